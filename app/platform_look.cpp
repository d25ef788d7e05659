#include "app/platform_look.h"

#include <QApplication>
#include <QFont>
#include <QStringList>
#include <QStyleFactory>

void adaptLookToPlatform() {
#ifndef Q_OS_WIN
    const QStringList substitutes{QStringLiteral("WenQuanYi Micro Hei"),
                                  QStringLiteral("Noto Sans CJK SC"),
                                  QStringLiteral("Droid Sans Fallback")};
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"), substitutes);
    QFont::insertSubstitutions(QStringLiteral("Microsoft YaHei"), substitutes);
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows"))) {
        QApplication::setStyle(style);
    }
#endif
}
