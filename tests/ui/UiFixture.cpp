#include "UiFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <memory>

#include "engine/oplog/OperationLog.h"
#include "platform/Internet.h"
#include "platform/Registry.h"
#include "platform/Sleep.h"
#include "ui/ProceedDialog.h"

namespace fs = std::filesystem;

MessageBoxes::Answer RecordingMessageBoxes::show(QWidget* parent, const QString& text,
                                                 const QString& caption, Icon icon,
                                                 Buttons buttons) {
    shown.push_back({text, caption, icon, buttons});
    if (onShow)
        onShow(parent, shown.back());
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    if (answers.empty())
        return Answer::No;
    const Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

UiTest::UiTest() : m_savedDirectory(fs::current_path()), m_folder(m_work / "local") {
    fs::create_directories(m_folder);
    m_folder = fs::canonical(m_folder);
    registry::setRoot(m_work / "registry");
    setLogFilePath(m_work / "qel.log");
    SetPauseScale(0);
    SetTimeoutOverrideForTesting(20000);
    setMessageBoxes(&boxes);
    CProceedDialog::setPollIntervals(std::chrono::milliseconds(20), std::chrono::milliseconds(60));
}

UiTest::~UiTest() {
    CProceedDialog::setPollIntervals(std::chrono::milliseconds(3000),
                                     std::chrono::milliseconds(30000));
    setMessageBoxes(nullptr);
    SetTimeoutOverrideForTesting(0);
    SetPauseScale(1);
    setLogFilePath(std::nullopt);
    registry::setRoot(std::nullopt);
    std::error_code ignored;
    fs::current_path(m_savedDirectory, ignored);
}

fs::path UiTest::registryKeyPath() const {
    return m_work / "registry" / "HKEY_LOCAL_MACHINE" / "SOFTWARE" / "Ardenvo" / "VelmoraMiniQel";
}

std::string UiTest::logText() const {
    const fs::path log = m_work / "qel.log";
    return fs::exists(log) ? readFile(log) : std::string();
}

QString qs(const fs::path& path) {
    return QString::fromStdString(path.string());
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count())
            return false;
        QTest::qWait(5);
    }
    return true;
}

void whenModalOpensImpl(std::function<bool(QWidget&)> tryAction) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, tryAction] {
        QWidget* modal = QApplication::activeModalWidget();
        if ((modal && tryAction(*modal)) || ++*tries > 1000) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(10);
}

int runProceedDialog(CProceedDialog& dialog) {
    dialog.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    child<QPushButton>(dialog, "continueButton").click();
    EXPECT_TRUE(waitUntil([&] { return !dialog.isVisible(); }, std::chrono::seconds(120)));
    return dialog.result();
}

void saveScreenshot(QWidget& widget, const QString& name) {
    const QDir directory(QStringLiteral(QEL_SCREENSHOT_DIR));
    ASSERT_TRUE(directory.mkpath(QStringLiteral(".")));
    const QString file = directory.filePath(name + QStringLiteral(".png"));
    EXPECT_TRUE(widget.grab().save(file)) << file.toStdString();
}

void saveMessageBoxScreenshot(QWidget* parent, const ShownMessage& message, const QString& name) {
    auto box = makeMessageBox(parent, message.text, message.caption, message.icon, message.buttons);
    box->show();
    saveScreenshot(*box, name);
}
