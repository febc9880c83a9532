// The panel's keyboard as eglfs reads it on the device: kernel key codes
// through Qt's evdev keyboard handler and the keyboard map the device image
// ships. Two keyboards are plugged in as pipes: one with that map, one with
// Qt's built-in map, so each promise is checked against Qt's own behaviour.

#include "kbdcursor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QtTest>

#include <linux/input.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Qt's evdev handler takes only device paths under /dev.
const QByteArray mappedKeyboard = "/dev/shm/panel-keyboard-mapped-" + QByteArray::number(getpid());
const QByteArray builtinKeyboard = "/dev/shm/panel-keyboard-builtin-" + QByteArray::number(getpid());

struct Key
{
    int key;
    QString text;
};

// The focus widget: every key press it gets, and the right clicks.
class KeyRecorder : public QWidget
{
public:
    QList<Key> presses;
    int contextMenus = 0;

protected:
    void keyPressEvent(QKeyEvent *event) override { presses.append({event->key(), event->text()}); }
    void contextMenuEvent(QContextMenuEvent *) override { ++contextMenus; }
};

// One keyboard: a pipe that eglfs's handler reads kernel input events from.
class Keyboard
{
public:
    explicit Keyboard(const QByteArray &path)
        : _fd(open(path.constData(), O_WRONLY | O_NONBLOCK))
    {
    }
    ~Keyboard() { close(_fd); }

    bool isOpen() const { return _fd >= 0; }

    void tap(quint16 code, quint16 modifier = 0)
    {
        if (modifier)
            send(modifier, 1);
        send(code, 1);
        send(code, 0);
        if (modifier)
            send(modifier, 0);
    }

private:
    void send(quint16 code, qint32 value)
    {
        input_event event{};
        event.type = EV_KEY;
        event.code = code;
        event.value = value;
        QCOMPARE(write(_fd, &event, sizeof event), qint64(sizeof event));
    }

    int _fd;
};

} // namespace

class TestDeviceKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void theMenuKeyArrivesAsMenu_data();
    void theMenuKeyArrivesAsMenu();
    void qtsBuiltInMapLosesTheMenuKey();
    void everyOtherKeyIsQtsOwn_data();
    void everyOtherKeyIsQtsOwn();
    void theMenuKeyRightClicksUnderThePointer();

private:
    // Taps on the keyboard until the recorder has one more press, or times out.
    Key pressAfterTap(Keyboard &keyboard, quint16 code, quint16 modifier = 0);

    KeyRecorder *_recorder = nullptr;
};

void TestDeviceKeyboard::init()
{
    _recorder = new KeyRecorder;
    _recorder->setFocusPolicy(Qt::StrongFocus);
    _recorder->resize(400, 300);
    _recorder->show();
    _recorder->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(_recorder));
    _recorder->setFocus();
}

void TestDeviceKeyboard::cleanup()
{
    delete _recorder;
    _recorder = nullptr;
}

Key TestDeviceKeyboard::pressAfterTap(Keyboard &keyboard, quint16 code, quint16 modifier)
{
    const int before = _recorder->presses.size();
    keyboard.tap(code, modifier);
    if (!QTest::qWaitFor([&] { return _recorder->presses.size() > before; }, 5000))
        return {Qt::Key_unknown, QString()};
    return _recorder->presses.last();
}

void TestDeviceKeyboard::theMenuKeyArrivesAsMenu_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("PC keyboard's Menu key (KEY_COMPOSE)") << KEY_COMPOSE;
    QTest::newRow("KEY_MENU") << KEY_MENU;
}

void TestDeviceKeyboard::theMenuKeyArrivesAsMenu()
{
    QFETCH(int, code);
    Keyboard keyboard(mappedKeyboard);
    QVERIFY(keyboard.isOpen());
    QCOMPARE(pressAfterTap(keyboard, quint16(code)).key, int(Qt::Key_Menu));
}

// Without the map the key is dropped by the handler: the next key is the first
// one the window gets.
void TestDeviceKeyboard::qtsBuiltInMapLosesTheMenuKey()
{
    Keyboard keyboard(builtinKeyboard);
    QVERIFY(keyboard.isOpen());
    keyboard.tap(KEY_COMPOSE);
    QCOMPARE(pressAfterTap(keyboard, KEY_A).key, int(Qt::Key_A));
    QCOMPARE(_recorder->presses.size(), 1);
}

void TestDeviceKeyboard::everyOtherKeyIsQtsOwn_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("modifier");
    QTest::addColumn<int>("expectedKey");
    // clang-format off
    QTest::newRow("letter")        << KEY_A     << 0              << int(Qt::Key_A);
    QTest::newRow("shifted digit") << KEY_1     << KEY_LEFTSHIFT  << int(Qt::Key_Exclam);
    QTest::newRow("pointer key")   << KEY_F12   << 0              << int(Qt::Key_F12);
    QTest::newRow("Enter")         << KEY_ENTER << 0              << int(Qt::Key_Return);
    QTest::newRow("arrow")         << KEY_UP    << 0              << int(Qt::Key_Up);
    QTest::newRow("Page Down")     << KEY_PAGEDOWN << 0           << int(Qt::Key_PageDown);
    QTest::newRow("Ctrl+Tab")      << KEY_TAB   << KEY_LEFTCTRL   << int(Qt::Key_Tab);
    // clang-format on
}

void TestDeviceKeyboard::everyOtherKeyIsQtsOwn()
{
    QFETCH(int, code);
    QFETCH(int, modifier);
    QFETCH(int, expectedKey);
    Keyboard mapped(mappedKeyboard);
    Keyboard builtin(builtinKeyboard);
    QVERIFY(mapped.isOpen() && builtin.isOpen());

    const Key withMap = pressAfterTap(mapped, quint16(code), quint16(modifier));
    const Key withoutMap = pressAfterTap(builtin, quint16(code), quint16(modifier));
    QCOMPARE(withoutMap.key, expectedKey);
    QCOMPARE(withMap.key, withoutMap.key);
    QCOMPARE(withMap.text, withoutMap.text);
}

// The whole path of the operator's right click: kernel key code, map, pointer.
void TestDeviceKeyboard::theMenuKeyRightClicksUnderThePointer()
{
    KbdCursor cursor(nullptr);
    cursor.install();
    Keyboard keyboard(mappedKeyboard);
    QVERIFY(keyboard.isOpen());

    keyboard.tap(KEY_F12);
    keyboard.tap(KEY_COMPOSE);
    QTRY_COMPARE(_recorder->contextMenus, 1);
}

int main(int argc, char *argv[])
{
    // Both pipes exist before the application starts: the handlers open them then.
    for (const QByteArray &path : {mappedKeyboard, builtinKeyboard}) {
        unlink(path.constData());
        if (mkfifo(path.constData(), 0600) != 0) {
            qCritical("cannot make the keyboard pipe %s", path.constData());
            return 1;
        }
    }
    qunsetenv("QT_QPA_EVDEV_KEYBOARD_PARAMETERS");
    qputenv("QT_QPA_GENERIC_PLUGINS",
            "evdevkeyboard:" + mappedKeyboard + ":keymap=" PANEL_KEYMAP ",evdevkeyboard:" + builtinKeyboard);
    int result;
    {
        QApplication application(argc, argv);
        TestDeviceKeyboard test;
        result = QTest::qExec(&test, argc, argv);
    }
    unlink(mappedKeyboard.constData());
    unlink(builtinKeyboard.constData());
    return result;
}

#include "tst_devicekeyboard.moc"
