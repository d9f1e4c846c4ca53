// The real save dialog: a name typed without a suffix gets the suffix of the
// type the user picked, so an export chosen as CSV is written as CSV.
#include "platform/dialogs.h"
#include "platform/wait.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tk;

TEST(SaveDialog, TypedNameGetsTheSuffixOfTheChosenType)
{
    struct Case {
        int typeSteps; // Down presses on the type box (0: the first type)
        const char* typed;
        const char* want;
    };
    const Case cases[] = {
        {0, "list", "list.json"},
        {1, "list", "list.csv"},
        {1, "list.json", "list.json"},
        {0, "list.csv", "list.csv"},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        bool driven = false;
        QTimer::singleShot(0, [&] {
            QFileDialog* dlg = nullptr;
            if (!pumpEventsUntil(
                    [&] {
                        dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                        return dlg != nullptr;
                    },
                    10000))
                return;
            auto* types = dlg->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!types || !name) {
                dlg->reject();
                return;
            }
            for (int i = 0; i < c.typeSteps; ++i)
                QTest::keyClick(types, Qt::Key_Down);
            name->setText(QString::fromLatin1(c.typed));
            QTest::keyClick(name, Qt::Key_Return);
            driven = true;
        });
        QtDialogs dialogs;
        const QString got = dialogs.saveFile({QStringLiteral("Export Device List"),
                                              {},
                                              QStringLiteral("JSON (*.json);;CSV (*.csv)"),
                                              dir.path()});
        EXPECT_TRUE(driven);
        EXPECT_EQ(got.toStdString(),
                  QDir(dir.path()).filePath(QString::fromLatin1(c.want)).toStdString());
    }
}
