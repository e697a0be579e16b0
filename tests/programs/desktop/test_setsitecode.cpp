// "Set Site code" as a user meets it: real credentials files in a
// temporary program folder, message boxes read back from the message log.
#include <gtest/gtest.h>

#include <QApplication>
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

#include "core/station/credentials.h"
#include "core/station/myutils.h"
#include "gui/dialogs.h"
#include "support/qtsupport.h"
#include "programs/desktop/setsitecodeform.h"
#include "core/site/sitecode.h"

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
        boxes = std::make_unique<dialogs::TLoggedBoxes>(QString::fromStdString(log));
        dialogs::SetMessageBoxes(boxes.get());
        form = std::make_unique<TSetSiteCodeForm>();
        form->SetFileChooser([this] {
            ++asked;
            return answer;
        });
    }
    void TearDown() override {
        form.reset();
        dialogs::SetMessageBoxes(nullptr);
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
    std::unique_ptr<dialogs::TLoggedBoxes> boxes;
    std::unique_ptr<TSetSiteCodeForm> form;
    int asked = 0;
    QString answer;
};

}  // namespace

TEST_F(SetSiteCode, TheCodeIsShownTrimmedTypedUpperCaseAndTheFileFieldCannotBeEdited) {
    EXPECT_EQ(form->windowTitle(), "Set Site code");
    EXPECT_TRUE(form->edCrdFile->isReadOnly());
    EXPECT_FALSE(form->edCrdFile->isEnabled());
    form->SetSiteCode("AB12    ");  // SIT_CODE is CHAR(8)
    EXPECT_EQ(form->edCodice->text(), "AB12");
    EXPECT_EQ(form->SiteCode(), "AB12");

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

TEST_F(SetSiteCode, OpeningRefusesAFileThatCannotServeTheCodeWithTheBoxOfItsReason) {
    const std::string shortFile = Issue("short.crd", "ABCD");
    fs::resize_file(shortFile, kCredentialsRecordSize - 1);
    const std::string flipped = Issue("flipped.crd", "ABCD");
    std::string bytes = ReadBytes(flipped);
    bytes[637] ^= 0x01;  // first character of the check text
    WriteBytes(flipped, bytes);
    const std::string notFound = "error: The credentials file is not in the expected format";
    const struct {
        std::string code, chosen;  // "" for a cancelled chooser
        std::vector<std::string> boxes;
        int asked;  // whether the chooser was shown
    } cases[] = {
        {"   ", Issue("a.crd", "ABCD"), {"information: First insert the Site code"}, 0},
        {"ABCD", "", {}, 1},
        {"ABCD", shortFile, {notFound}, 1},
        {"ABCD", (incoming / "gone.crd").string(), {notFound}, 1},
        {"ABCD", flipped, {"warning: Credentials file seems corrupted"}, 1},
        {"ABCD", Issue("other.crd", "ABCE"), {"warning: The site code does not match with the credential file"}, 1},
        // A record holds up to 10, a site's column 8.
        {"ABCDEFGHI", Issue("nine.crd", "ABCDEFGHI"), {"warning: The Site code can have at most 8 characters"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("code '" + c.code + "', file '" + c.chosen + "'");
        form->SetSiteCode(QString::fromStdString(c.code));
        Choose(c.chosen);
        const int before = asked;
        form->BitBtn1->click();
        EXPECT_EQ(Boxes(), c.boxes);
        EXPECT_EQ(asked - before, c.asked);
        EXPECT_TRUE(form->edCrdFile->text().isEmpty());
    }
}

TEST_F(SetSiteCode, ActivatingAsksForTheCodeAndAnExistingFileThatMatchesIt) {
    form->show();
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: Insert the Site code"}));
    form->SetSiteCode("ABCD");
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: Select a credentials file"}));
    const std::string gone = Issue("gone.crd", "ABCD");
    Choose(gone);
    form->BitBtn1->click();
    fs::remove(gone);  // gone since it was chosen
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: Select a credentials file"}));
    // A code edited after the file was chosen is checked again.
    Choose(Issue("good.crd", "ABCD"));
    form->BitBtn1->click();
    ASSERT_FALSE(form->edCrdFile->text().isEmpty());
    TypeCode("WXYZ");
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: The site code does not match with the credential file"}));
    TypeCode("ABCDEFGHI");
    form->edCrdFile->setText(QString::fromStdString(Issue("nine.crd", "ABCDEFGHI")));
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"warning: The Site code can have at most 8 characters"}));
    EXPECT_FALSE(fs::exists(program / "crdfiles"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_NE(form->result(), QDialog::Accepted);
}

TEST_F(SetSiteCode, AGoodFileIsCopiedByteForByteReplacingAnEarlierOneAndTheDialogEndsWithOK) {
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

    // Again with a newer file, bytes after the record too; then eight letters, which fit.
    const std::string newer = Issue("new.crd", "ABCD");
    WriteBytes(newer, ReadBytes(newer) + std::string(100, '\x7F'));
    for (const auto& [code, file] : {std::pair<std::string, std::string>{"ABCD", newer},
                                     {"ABCDEFGH", Issue("eight.crd", "ABCDEFGH")}}) {
        form->setResult(QDialog::Rejected);
        form->show();
        TypeCode(QString::fromStdString(code));
        Choose(file);
        form->BitBtn1->click();
        form->BitBtn2->click();
        EXPECT_TRUE(Boxes().empty()) << code;
        EXPECT_EQ(ReadBytes(Installed(code)), ReadBytes(file)) << code;
        EXPECT_EQ(form->result(), QDialog::Accepted) << code;
        EXPECT_FALSE(form->isVisible()) << code;
    }
    EXPECT_EQ(FilesIn(program / "crdfiles"), (std::vector<std::string>{"Cred_ABCD.crd", "Cred_ABCDEFGH.crd"}));
}

TEST_F(SetSiteCode, ACopyThatCannotBeWrittenIsShownWithItsReasonAndLeavesWhatWasThere) {
    // A plain file where the folder should be: refused for root too.
    WriteBytes(program / "crdfiles", "not a folder");
    const std::string path = Issue("good.crd", "ABCD");
    form->SetSiteCode("ABCD");
    Choose(path);
    form->show();
    form->BitBtn1->click();
    form->BitBtn2->click();
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"error: The credentials were not activated: Cannot create the folder " +
                                                  (program / "crdfiles").string() + ": a file of that name is in the way"}));
    EXPECT_TRUE(form->isVisible());
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_EQ(ReadBytes(program / "crdfiles"), "not a folder");

    // A file size limit below one record: the write stops after 600 bytes,
    // as on a full disk, for root too. The earlier file stays whole.
    fs::remove(program / "crdfiles");
    fs::create_directories(program / "crdfiles");
    WriteBytes(Installed("ABCD"), "an earlier file");
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
