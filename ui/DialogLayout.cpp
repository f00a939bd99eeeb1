#include "DialogLayout.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace brasko {

namespace {

constexpr int kDesignBaseX = 6;
constexpr int kDesignBaseY = 13;

int Scale(int nPixels, int nBase, int nDesignBase)
{
    return (nPixels * nBase + nDesignBase / 2) / nDesignBase;
}

} // namespace

void ScaleToDialogFont(QWidget& dialog)
{
    const QFontMetrics metrics = dialog.fontMetrics();
    // The average character width as dialog units define it: the alphabet in both cases, rounded.
    const int nAlphabet =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int nBaseX = (nAlphabet / 26 + 1) / 2;
    const int nBaseY = metrics.height();
    const auto scaleX = [&](int n) { return Scale(n, nBaseX, kDesignBaseX); };
    const auto scaleY = [&](int n) { return Scale(n, nBaseY, kDesignBaseY); };

    for (QWidget* pChild : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const QRect rect = pChild->geometry();
        // Both edges are scaled, so that neighbours that touch still touch.
        const int nLeft = scaleX(rect.left());
        const int nTop = scaleY(rect.top());
        pChild->setGeometry(nLeft, nTop, scaleX(rect.left() + rect.width()) - nLeft,
                            scaleY(rect.top() + rect.height()) - nTop);
    }
    dialog.setFixedSize(scaleX(dialog.width()), scaleY(dialog.height()));
}

void UseClassicGroupBoxes(QWidget& dialog)
{
    QStyle* pStyle = QStyleFactory::create(QStringLiteral("Windows"));
    if (pStyle == nullptr)
        return;
    pStyle->setParent(&dialog);
    for (QGroupBox* pBox : dialog.findChildren<QGroupBox*>())
        pBox->setStyle(pStyle);
}

} // namespace brasko
