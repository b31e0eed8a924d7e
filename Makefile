# The two commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build test run bench tour screenshots package crashtest clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

run: build
	@bash scripts/tessolan-run $(BUILD)

bench: build
	@cmake --build $(BUILD) -j$(JOBS) --target tslbench
	@bash scripts/bench.sh $(BUILD)

# A new user's path through the real program under Xvfb and openbox, from a
# cold start: a numbered picture of the screen at every step in $(BUILD)/tour.
tour: build
	@bash tools/tour.sh $(BUILD)

# The README's pictures, chosen from the tour, into docs/screenshots.
screenshots: build
	@bash scripts/screenshots.sh $(BUILD)

# Kills the program 200 times while it writes, starts, stops or makes a ledger,
# then cuts its power 1,000 times while it writes (unsynced writes lost or torn),
# then works 100 rounds on a server ledger, killed or the server restarted;
# every database must stay whole, every saved row there, nothing left behind.
crashtest: build
	@$(BUILD)/tests/crash/crashtest --driver $(BUILD)/tests/crash/crashdriver --app $(BUILD)/app/tessolan \
	  --template $(BUILD)/run.dll \
	  --kills $${KILLS:-200} --seed $${SEED:-$$(date +%s)}
	@$(BUILD)/tests/crash/crashtest --driver $(BUILD)/tests/crash/crashdriver --app $(BUILD)/app/tessolan \
	  --template $(BUILD)/run.dll \
	  --kills 0 --power-cuts $${POWERCUTS:-1000} --seed $${SEED:-$$(date +%s)}
	@$(BUILD)/tests/crash/crashtest --driver $(BUILD)/tests/crash/crashdriver --app $(BUILD)/app/tessolan \
	  --template $(BUILD)/run.dll \
	  --kills 0 --server-rounds $${SERVERROUNDS:-100} --seed $${SEED:-$$(date +%s)}

# A .deb of the installed program (binary, launcher, index template, menu entry, icon).
package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	@rm -rf $(BUILD)
