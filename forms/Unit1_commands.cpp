#include "Unit1.h"

// Record commands of the workspace.
void TForm1::btnaddClick() {}
void TForm1::btneditClick() {}
void TForm1::btndelClick() {}
