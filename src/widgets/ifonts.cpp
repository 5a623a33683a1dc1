#include "ifonts.h"

#include <QFont>
#include <QString>
#include <QStringList>

void install_font_substitutions()
{
    // The Kai face ships as "AR PL UKai CN"; the TW cut is a fallback with the
    // same look. Chinese text in a sans caption falls back to a Hei face.
    QFont::insertSubstitutions(QString::fromUtf8(kai_font_family),
        QStringList { QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW") });
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
        QStringList { QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei") });
}

QFont kai_caption_font()
{
    QFont f(QString::fromUtf8(kai_font_family));
    f.setPixelSize(20);
    f.setBold(true);
    return f;
}
