// Writes the panel's keyboard map for Qt's evdev keyboard handler (a .qmap
// file, named by "keymap=" in QT_QPA_EVDEV_KEYBOARD_PARAMETERS): Qt's own
// built-in map, plus the Menu key.
//
// The built-in map has no entry for the PC keyboard's Menu key (KEY_COMPOSE)
// nor for KEY_MENU, so on eglfs without libinput that key reaches no program:
// the settings screen's right click and the page's context menu are lost.
//
//   panel-keymap OUTPUT
#include <QtInputSupport/private/qevdevkeyboardhandler_p.h>

#include <QCoreApplication>
#include <QSaveFile>
#include <QVector>

#include <cstdio>
#include <iterator>

// Qt keeps its built-in map as the definition of two private static members of
// its keyboard handler. Its header defines them here as the members of a
// struct of ours, so the map is Qt's own, entry for entry.
struct QtBuiltinKeymap
{
    static const QEvdevKeyboardMap::Mapping s_keymap_default[];
    static const QEvdevKeyboardMap::Composing s_keycompose_default[];
};
#define QEvdevKeyboardHandler QtBuiltinKeymap
#include <QtInputSupport/private/qevdevkeyboard_defaultmap_p.h>
#undef QEvdevKeyboardHandler

namespace {

// Added after Qt's entries; no key code below appears among them.
const QEvdevKeyboardMap::Mapping menuKeys[] = {
    {KEY_COMPOSE, 0xffff, Qt::Key_Menu, QEvdevKeyboardMap::ModPlain, 0, 0},
    {KEY_MENU, 0xffff, Qt::Key_Menu, QEvdevKeyboardMap::ModPlain, 0, 0},
};

const quint32 qmapVersion = 1;

bool writeKeymap(const QString &path)
{
    QVector<QEvdevKeyboardMap::Mapping> keymap(std::begin(QtBuiltinKeymap::s_keymap_default),
                                               std::end(QtBuiltinKeymap::s_keymap_default));
    keymap.append(QVector<QEvdevKeyboardMap::Mapping>(std::begin(menuKeys), std::end(menuKeys)));
    const QVector<QEvdevKeyboardMap::Composing> compose(std::begin(QtBuiltinKeymap::s_keycompose_default),
                                                        std::end(QtBuiltinKeymap::s_keycompose_default));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out << QEvdevKeyboardMap::FileMagic << qmapVersion << quint32(keymap.size()) << quint32(compose.size());
    for (const QEvdevKeyboardMap::Mapping &mapping : keymap)
        out << mapping;
    for (const QEvdevKeyboardMap::Composing &composing : compose)
        out << composing;
    return out.status() == QDataStream::Ok && file.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: panel-keymap OUTPUT\n");
        return 2;
    }
    if (!writeKeymap(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "panel-keymap: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
