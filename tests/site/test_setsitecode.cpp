// "Set Site code" as a user meets it: real credentials files in a
// temporary program folder, message boxes read back from the message log.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "credentials.h"
#include "myutils.h"
#include "qtsupport.h"
#include "setsitecodeform.h"
#include "sitecode.h"

namespace fs = std::filesystem;

namespace {

using testsupport::App;

TCredentials Sample(const std::string& code) {
    return {code, "station", "s3cret", "noctila.example.org", 3306, "noctila", true, false};
}

std::string ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class SetSiteCode : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        ASSERT_TRUE(tmp.isValid());
        root = fs::path(tmp.path().toStdString());
        program = root / "program";
        incoming = root / "incoming";
        fs::create_directories(program);
        fs::create_directories(incoming);
        SetProgramDir(program.string());
        log = (root / "messages.txt").string();
        setenv("KALOSQM_MESSAGE_LOG", log.c_str(), 1);
        form = std::make_unique<TSetSiteCodeForm>();
        form->SetFileChooser([this] {
            ++asked;
            return answer;
        });
    }
    void TearDown() override {
        form.reset();
        unsetenv("KALOSQM_MESSAGE_LOG");
    }
    // The boxes shown since the last call.
    std::vector<std::string> Boxes() {
        std::vector<std::string> out;
        std::istringstream in(ReadBytes(log));
        for (std::string l; std::getline(in, l);) out.push_back(l);
        fs::remove(log);
        return out;
    }
    // A credentials file as the network's operators hand it out.
    std::string Issue(const std::string& name, const std::string& code) {
        const std::string path = (incoming / name).string();
        WriteCredentialsFile(path, Sample(code));
        return path;
    }
    void Choose(const std::string& path) { answer = QString::fromStdString(path); }
    // Types into the code as a user would, replacing what is there.
    void TypeCode(const QString& text) {
        form->edCodice->setFocus();
        form->edCodice->selectAll();
        QTest::keyClick(form->edCodice, Qt::Key_Delete);
        QTest::keyClicks(form->edCodice, text);
    }
    fs::path Installed(const std::string& code) const { return program / "crdfiles" / ("Cred_" + code + ".crd"); }

    QTemporaryDir tmp;
    fs::path root, program, incoming;
    std::string log;
    std::unique_ptr<TSetSiteCodeForm> form;
    int asked = 0;
    QString answer;
};

}  // namespace

TEST_F(SetSiteCode, ShowsTheCodeItWasGivenAndTheFileFieldCannotBeEdited) {
    EXPECT_EQ(form->windowTitle(), "Set Site code");
    EXPECT_EQ(form->BitBtn1->text(), "Open credentials file");
    EXPECT_EQ(form->BitBtn2->text(), "Activate credentials");
    EXPECT_EQ(form->btnCancel->text(), "Cancel");
    EXPECT_TRUE(form->edCrdFile->isReadOnly());
    EXPECT_FALSE(form->edCrdFile->isEnabled());
    EXPECT_EQ(form->edCodice->maxLength(), 10);
    form->SetSiteCode("AB12    ");  // SIT_CODE is CHAR(8)
    EXPECT_EQ(form->edCodice->text(), "AB12");
    EXPECT_EQ(form->SiteCode(), "AB12");
}

TEST_F(SetSiteCode, AnEmptyCodeIsAskedForBeforeAnyFileIsChosen) {
    Choose(Issue("a.crd", "ABCD"));
    form->SetSiteCode("   ");
    form->BitBtn1->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"information: First insert the Site code"}));
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(form->edCrdFile->text().isEmpty());
}

TEST_F(SetSiteCode, ACancelledChooserChangesNothing) {
    form->SetSiteCode("ABCD");
    form->BitBtn1->click();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(form->edCrdFile->text().isEmpty());
}

TEST_F(SetSiteCode, AFileShorterThanARecordIsNotInTheExpectedFormat) {
    const std::string path = Issue("short.crd", "ABCD");
    fs::resize_file(path, kCredentialsRecordSize - 1);
    ASSERT_EQ(fs::file_size(path), 647u);
    form->SetSiteCode("ABCD");
    Choose(path);
    form->BitBtn1->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"error: The credentials file is not in the expected format"}));
    EXPECT_TRUE(form->edCrdFile->text().isEmpty());
    // A name that names no file cannot be read either.
    Choose((incoming / "gone.crd").string());
    form->BitBtn1->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"error: The credentials file is not in the expected format"}));
}

TEST_F(SetSiteCode, AFileWhoseCheckTextWasChangedSeemsCorrupted) {
    const std::string path = Issue("flipped.crd", "ABCD");
    std::string bytes = ReadBytes(path);
    bytes[637] ^= 0x01;  // first character of the check text
    WriteBytes(path, bytes);
    form->SetSiteCode("ABCD");
    Choose(path);
    form->BitBtn1->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: Credentials file seems corrupted"}));
    EXPECT_TRUE(form->edCrdFile->text().isEmpty());
}

TEST_F(SetSiteCode, AFileIssuedForAnotherCodeDoesNotMatch) {
    form->SetSiteCode("ABCD");
    Choose(Issue("other.crd", "ABCE"));
    form->BitBtn1->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: The site code does not match with the credential file"}));
    EXPECT_TRUE(form->edCrdFile->text().isEmpty());
}

TEST_F(SetSiteCode, AGoodFileIsCopiedByteForByteIntoANewCrdfilesFolderAndTheDialogEndsWithOK) {
    const std::string path = Issue("good.crd", "ABCD");
    form->SetSiteCode("ABCD");
    Choose(path);
    form->show();
    form->BitBtn1->click();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(form->edCrdFile->text().toStdString(), path);
    ASSERT_FALSE(fs::exists(program / "crdfiles"));
    form->BitBtn2->click();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(ReadBytes(Installed("ABCD")), ReadBytes(path));
    EXPECT_EQ(FilesIn(program / "crdfiles"), (std::vector<std::string>{"Cred_ABCD.crd"}));
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->SiteCode(), "ABCD");
    std::string error;
    EXPECT_EQ(CheckCredentialsFile("ABCD", error), kCredentialsUpload) << error;
}

TEST_F(SetSiteCode, ActivatingReplacesAnEarlierFileOfTheCode) {
    fs::create_directories(program / "crdfiles");
    WriteBytes(Installed("ABCD"), "an earlier file");
    const std::string path = Issue("new.crd", "ABCD");
    WriteBytes(path, ReadBytes(path) + std::string(100, '\x7F'));  // bytes after the record are copied too
    form->SetSiteCode("ABCD");
    Choose(path);
    form->show();
    form->BitBtn1->click();
    form->BitBtn2->click();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(ReadBytes(Installed("ABCD")), ReadBytes(path));
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(SetSiteCode, ActivatingAsksForTheCodeAndForAnExistingFile) {
    form->show();
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: Insert the Site code"}));
    form->SetSiteCode("ABCD");
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: Select a credentials file"}));
    const std::string path = Issue("good.crd", "ABCD");
    Choose(path);
    form->BitBtn1->click();
    fs::remove(path);  // gone since it was chosen
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: Select a credentials file"}));
    EXPECT_FALSE(fs::exists(program / "crdfiles"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_NE(form->result(), QDialog::Accepted);
}

TEST_F(SetSiteCode, ACodeEditedAfterTheFileWasChosenIsCheckedAgainAtActivation) {
    form->SetSiteCode("ABCD");
    Choose(Issue("good.crd", "ABCD"));
    form->show();
    form->BitBtn1->click();
    ASSERT_FALSE(form->edCrdFile->text().isEmpty());
    TypeCode("WXYZ");
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: The site code does not match with the credential file"}));
    EXPECT_FALSE(fs::exists(Installed("WXYZ")));
    EXPECT_TRUE(form->isVisible());
}

TEST_F(SetSiteCode, ACodeLongerThanTheSiteColumnIsRefusedAtBothButtons) {
    TypeCode("ABCDEFGHI");
    ASSERT_EQ(form->edCodice->text(), "ABCDEFGHI");
    Choose(Issue("nine.crd", "ABCDEFGHI"));  // a record holds up to 10
    form->show();
    form->BitBtn1->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: The Site code can have at most 8 characters"}));
    EXPECT_EQ(asked, 0);
    form->edCrdFile->setText(answer);
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: The Site code can have at most 8 characters"}));
    EXPECT_FALSE(fs::exists(program / "crdfiles"));
    EXPECT_TRUE(form->isVisible());
    // Eight fit.
    TypeCode("ABCDEFGH");
    Choose(Issue("eight.crd", "ABCDEFGH"));
    form->BitBtn1->click();
    form->BitBtn2->click();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(fs::exists(Installed("ABCDEFGH")));
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(SetSiteCode, TypedLettersBecomeUpperCaseAndAnythingElseIsRefused) {
    form->show();
    TypeCode("ab1c-d z");
    QTest::sendKeyEvent(QTest::Click, form->edCodice, Qt::Key_Eacute, QStringLiteral("\u00E9"), Qt::NoModifier);
    EXPECT_EQ(form->edCodice->text(), "ABCDZ");
    TypeCode("abcdefghijkl");
    EXPECT_EQ(form->edCodice->text(), "ABCDEFGHIJ");
    // A stored code with digits stays editable; only new digits are refused.
    form->SetSiteCode("AB12");
    form->edCodice->setFocus();
    QTest::keyClick(form->edCodice, Qt::Key_End);
    QTest::keyClick(form->edCodice, Qt::Key_Backspace);
    QTest::keyClicks(form->edCodice, "x5");
    EXPECT_EQ(form->edCodice->text(), "AB1X");
    QTest::keyClick(form->edCodice, Qt::Key_Home);
    QTest::keyClicks(form->edCodice, "q");
    EXPECT_EQ(form->edCodice->text(), "QAB1X");
}

TEST_F(SetSiteCode, ACopyThatCannotBeWrittenIsShownWithItsReasonAndTheDialogStaysOpen) {
    // A plain file where the folder should be: refused for root too.
    WriteBytes(program / "crdfiles", "not a folder");
    form->SetSiteCode("ABCD");
    Choose(Issue("good.crd", "ABCD"));
    form->show();
    form->BitBtn1->click();
    form->BitBtn2->click();
    const std::vector<std::string> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "error: The credentials were not activated: Cannot create the folder " +
                            (program / "crdfiles").string() + ": a file of that name is in the way");
    EXPECT_TRUE(form->isVisible());
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_EQ(ReadBytes(program / "crdfiles"), "not a folder");
}

TEST_F(SetSiteCode, AWriteThatFailsHalfwayLeavesTheEarlierFileWhole) {
    fs::create_directories(program / "crdfiles");
    WriteBytes(Installed("ABCD"), "an earlier file");
    const std::string path = Issue("good.crd", "ABCD");
    // A file size limit below one record: the write stops after 600 bytes,
    // as on a full disk, for root too.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 600;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    std::string what;
    try {
        ActivateCredentials("ABCD", path);
    } catch (const std::runtime_error& e) {
        what = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(what, "Cannot write " + Installed("ABCD").string() + ": " + std::strerror(EFBIG));
    EXPECT_EQ(ReadBytes(Installed("ABCD")), "an earlier file");
    EXPECT_EQ(FilesIn(program / "crdfiles"), (std::vector<std::string>{"Cred_ABCD.crd"}));
}

TEST_F(SetSiteCode, TheFileDialogOffersCredentialsFiles) {
    const std::string path = Issue("good.crd", "ABCD");
    form->SetFileChooser(nullptr);
    form->SetSiteCode("ABCD");
    form->show();
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            if (QWidget* w = QApplication::activeModalWidget()) w->close();
            return;
        }
        seen = true;
        EXPECT_EQ(dialog->nameFilters(), QStringList{"Credentials File (*.CRD *.crd)"});
        EXPECT_EQ(dialog->defaultSuffix(), "crd");
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        dialog->selectFile(QString::fromStdString(path));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    form->BitBtn1Click();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(form->edCrdFile->text().toStdString(), path);
}

TEST_F(SetSiteCode, TheDialogIsCentredOnItsOwnerAndNothingInItIsClippedOrOverlaps) {
    // The owner is a window inside a larger one, as a site window in the main window.
    QWidget top;
    top.setGeometry(0, 0, 780, 580);
    auto* owner = new QWidget(&top);
    owner->setGeometry(340, 330, 200, 100);
    top.show();
    TSetSiteCodeForm dialog(owner);
    dialog.SetSiteCode("ABCDEFGHIJ");
    dialog.edCrdFile->setText(QString::fromStdString(Issue("good.crd", "ABCD")));
    dialog.show();
    QApplication::processEvents();

    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());  // fixed size
    const QPoint centre = owner->mapToGlobal(owner->rect().center());
    const QRect avail = owner->screen()->availableGeometry();
    const QRect frame = dialog.frameGeometry();
    ASSERT_TRUE(avail.contains(QRect(centre - QPoint(frame.width() / 2, frame.height() / 2), frame.size())))
        << "the dialog must fit around the owner's centre for this check";
    EXPECT_LE((frame.center() - centre).manhattanLength(), 2);

    std::vector<QWidget*> widgets;
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisible()) widgets.push_back(w);
    ASSERT_EQ(widgets.size(), 7u);  // two labels, two edits, three buttons
    for (QWidget* w : widgets) {
        const std::string name = w->objectName().toStdString();
        EXPECT_TRUE(dialog.rect().contains(w->geometry())) << name;
        if (qobject_cast<QLabel*>(w) || qobject_cast<QPushButton*>(w)) {
            EXPECT_GE(w->width(), w->sizeHint().width()) << name;
            EXPECT_GE(w->height(), w->sizeHint().height()) << name;
        }
        for (QWidget* other : widgets) {
            if (other == w) continue;
            EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                << name << " / " << other->objectName().toStdString();
        }
    }
    EXPECT_GE(dialog.edCodice->width(), dialog.edCodice->fontMetrics().horizontalAdvance("WWWWWWWWWW"));
    if (const char* shot = std::getenv("KALO_SCREENSHOT")) dialog.grab().save(QString::fromLocal8Bit(shot));
}
