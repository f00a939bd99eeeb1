#include "UiTestSupport.h"

#include "Version.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace brasko::test {

void WhenModal(const QMetaObject* pType, std::function<void(QWidget&)> action, int nTimeoutMs)
{
    auto* pTimer = new QTimer(qApp);
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    QObject::connect(pTimer, &QTimer::timeout, pTimer, [pTimer, pType, elapsed, nTimeoutMs, action] {
        QWidget* pModal = QApplication::activeModalWidget();
        if (pModal != nullptr && pType->cast(pModal) != nullptr && pModal->isVisible()) {
            pTimer->stop();
            pTimer->deleteLater();
            action(*pModal);
            return;
        }
        if (elapsed->elapsed() > nTimeoutMs) {
            pTimer->stop();
            pTimer->deleteLater();
            ADD_FAILURE() << "no modal " << pType->className() << " appeared";
            for (int i = 0; i < 10; ++i) {
                if (auto* pDialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    pDialog->done(QDialog::Rejected);
            }
        }
    });
    pTimer->start(10);
}

QString MainDialogTitle()
{
    return QStringLiteral("Brasko Decrypter. Version ") + QString::fromLatin1(kVersionMajor) + u'.' +
           QString::fromLatin1(kVersionMinor);
}

} // namespace brasko::test
