#pragma once

#include <QString>

namespace velda {

// What a refused gate says; dialogs that re-check a gate say the same.
namespace GateText {
inline const QString FileServer = QStringLiteral("此功能需要FTP支持，请正确设置");
inline const QString Administrator = QStringLiteral("您权限不够，只有admin组的用户才能进行此项操作");
inline const QString AdminRecord = QStringLiteral("缺乏管理员信息，请先进行<系统管理/记录管理员信息>操作！");
inline const QString BorrowedPrompt = QStringLiteral("请输入借用件代号：");
inline const QString BorrowedTitle = QStringLiteral("借用件代号");
inline const QString BorrowedWrong = QStringLiteral("借用件代号输入有误！");
// Importing part records is for administrators, and for users where the office allows it.
inline const QString RecordImport =
    QStringLiteral("您权限不够，只有admin组的用户才能导入零件信息（管理员可在导入窗口中允许普通用户导入）");
} // namespace GateText

// The office setting (系统设置) that lets users who are not administrators import part records.
inline const QString kSettingUsersMayImport = QStringLiteral("允许用户导入零件信息");

} // namespace velda
