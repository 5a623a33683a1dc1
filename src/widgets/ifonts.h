#pragma once
// Application-wide font setup. The form names its faces by their Windows names;
// this maps them to faces installed on Debian. Call once after the
// QApplication exists and before any widget is created.

// "楷体_GB2312" -> "AR PL UKai CN" (fonts-arphic-ukai), "MS Sans Serif" -> a sans face.
void install_font_substitutions();

#include <QFont>

// The family name the Kai captions of the form use.
inline constexpr const char* kai_font_family = "楷体_GB2312";

// The font of the form's captions ("地址", "程序段", ...): Kai, 20 pixels, bold.
QFont kai_caption_font();
