// SPDX-License-Identifier: MIT
// The real message boxes and file dialogs: their texts, buttons and starting
// point, answered by a timer that waits for the modal widget.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "tests/profile/profilefixture.h"

namespace quorlin::test {
namespace {

// Runs Act on the first modal widget of type W once it is shown.
template <typename W> void whenModal(std::function<void(W *)> Act)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, Act] {
        if (auto *w = qobject_cast<W *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            Act(w);
        }
    });
    timer->start();
}

struct ConfirmRow {
    const char *name;
    bool withCancel;
    QMessageBox::StandardButton press;
    TConfirmAnswer answer;
};

class QtConfirm : public ::testing::TestWithParam<ConfirmRow> {};

TEST_P(QtConfirm, ShowsTheQuestionWithItsButtons)
{
    const QString text = "Profile data not saved. Save current profile before opening?";
    QString title, shown;
    QMessageBox::StandardButtons buttons;
    whenModal<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        shown = box->text();
        buttons = box->standardButtons();
        box->button(GetParam().press)->click();
    });
    TQtProfileDialogs dialogs;
    EXPECT_EQ(dialogs.Confirm(nullptr, text, GetParam().withCancel), GetParam().answer);
    EXPECT_EQ(title, "Confirm");
    EXPECT_EQ(shown, text);
    QMessageBox::StandardButtons expected = QMessageBox::Yes | QMessageBox::No;
    if (GetParam().withCancel)
        expected |= QMessageBox::Cancel;
    EXPECT_EQ(buttons, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QtConfirm,
    ::testing::Values(ConfirmRow{"Yes", true, QMessageBox::Yes, TConfirmAnswer::Yes},
                      ConfirmRow{"No", true, QMessageBox::No, TConfirmAnswer::No},
                      ConfirmRow{"Cancel", true, QMessageBox::Cancel, TConfirmAnswer::Cancel},
                      ConfirmRow{"ExitYes", false, QMessageBox::Yes, TConfirmAnswer::Yes},
                      ConfirmRow{"ExitNo", false, QMessageBox::No, TConfirmAnswer::No}),
    [](const auto &info) { return std::string(info.param.name); });

// Enter gives the answer that loses nothing: No at the exit question.
class QtConfirmEnter : public ::testing::TestWithParam<ConfirmRow> {};

TEST_P(QtConfirmEnter, AnswersWithTheDefaultButton)
{
    whenModal<QMessageBox>([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_EQ(TQtProfileDialogs().Confirm(nullptr, "?", GetParam().withCancel), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QtConfirmEnter,
    ::testing::Values(ConfirmRow{"ExitQuestion", false, QMessageBox::No, TConfirmAnswer::No},
                      ConfirmRow{"OpenQuestion", true, QMessageBox::Yes, TConfirmAnswer::Yes}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(QtDialogs, ErrorBoxShowsTheMessage)
{
    QString shown;
    whenModal<QMessageBox>([&](QMessageBox *box) {
        shown = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    TQtProfileDialogs().ShowError(nullptr, "Unable to write to /x/p.QRL");
    EXPECT_EQ(shown, "Unable to write to /x/p.QRL");
}

TEST(QtDialogs, SaveDialogStartsWhereAskedAndAddsTheExtension)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TFileDialogRequest r;
    r.Title = "Save profile...";
    r.Filters = QStringList{"Quorlin Profiles (*.QRL)", "Any files (*)"};
    r.DefaultSuffix = "QRL";
    r.Directory = dir.path();
    r.FileName = "UNTITLED.QRL";
    QString title, directory, filter, suffix;
    QStringList filters, selected;
    bool confirmsOverwrite = true;
    whenModal<QFileDialog>([&](QFileDialog *d) {
        title = d->windowTitle();
        directory = d->directory().absolutePath();
        filters = d->nameFilters();
        filter = d->selectedNameFilter();
        suffix = d->defaultSuffix();
        selected = d->selectedFiles();
        confirmsOverwrite = !d->testOption(QFileDialog::DontConfirmOverwrite);
        auto *edit = d->findChild<QLineEdit *>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText("plant");
        QMetaObject::invokeMethod(d, "accept");
    });
    const auto chosen = TQtProfileDialogs().SaveFileName(nullptr, r);
    EXPECT_EQ(title, "Save profile...");
    EXPECT_EQ(directory, QDir(dir.path()).absolutePath());
    EXPECT_EQ(filters, r.Filters);
    EXPECT_EQ(filter, "Quorlin Profiles (*.QRL)");
    EXPECT_EQ(suffix, "QRL");
    EXPECT_EQ(selected, QStringList{QDir(dir.path()).absoluteFilePath("UNTITLED.QRL")});
    EXPECT_FALSE(confirmsOverwrite);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, QDir(dir.path()).absoluteFilePath("plant.QRL"));
}

TEST(QtDialogs, CancelledOpenDialogChoosesNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TFileDialogRequest r;
    r.Title = "Open Profile...";
    r.Directory = dir.path();
    r.FileMustExist = true;
    QString title;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    whenModal<QFileDialog>([&](QFileDialog *d) {
        title = d->windowTitle();
        mode = d->fileMode();
        d->reject();
    });
    EXPECT_FALSE(TQtProfileDialogs().OpenFileName(nullptr, r).has_value());
    EXPECT_EQ(title, "Open Profile...");
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
}

} // namespace
} // namespace quorlin::test
