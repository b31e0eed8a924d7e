#pragma once
#include <QRect>
#include <QString>

class QApplication;
class QLabel;
class QWidget;

// Font substitution and the application font: 宋体 9 pt mapped to an installed Song face.
void applyAppLook(QApplication& app);

// A label whose top left corner stands at x, y, sized to its text.
QLabel* textLabel(QWidget* parent, const char* name, const QString& text, int x, int y);
// A label of a fixed place and size.
QLabel* textLabel(QWidget* parent, const char* name, const QString& text, const QRect& place);
