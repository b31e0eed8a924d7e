#pragma once
// The chooser's texts that more than one of its units show.
#include <QString>

#include <string>

namespace lbtexts {

inline const QString kSelectLedger = QStringLiteral("请选择帐本!");
inline const QString kCannotOpen = QStringLiteral("无法打开帐本!");
inline const QString kCopyFailed = QStringLiteral("文件创建失败,文件可能已经存在!");
inline const QString kCreated = QStringLiteral("帐本创建成功!");
inline const QString kInUse = QStringLiteral("帐本正在被另一个程序使用!");
inline const QString kNameTooLong = QStringLiteral("帐本名称太长,请改短一些!");

inline QString fromStd(const std::string& s) { return QString::fromStdString(s); }

} // namespace lbtexts
