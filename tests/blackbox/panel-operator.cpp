// The operator of the black-box session: types on the panel's keyboard and
// looks at its screen, as a person at the panel does.
//
// The keyboard is the named pipe that panel-setup's evdev keyboard handler
// reads ($PANEL_KEYBOARD, a /dev path): each key event goes in as Linux
// input_event records, the key and its SYN_REPORT in one write, so the reader
// never sees half an event. With PANEL_KEYBOARD=x11 the keys go to the X
// display instead (through xdotool), for panel-setup in an X window. The screen is the X display that eglfs draws into
// ($DISPLAY); looking means a screenshot, then finding the pointer's arrow and
// a caption in it.
//
//   panel-operator shot FILE                     save a screenshot
//   panel-operator key NAME...                   press and release each key
//   panel-operator hold NAME MS                  hold a key with keyboard repeat
//   panel-operator find FILE TEXT [--pick P] [--near TEXT]
//                                                where a caption is: x y w h score
//   panel-operator arrow FILE                    where the pointer's hotspot is: x y
//   panel-operator goto PREFIX TEXT [--pick P] [--near TEXT]
//                                                steer the pointer onto a caption,
//                                                looking after every move; every
//                                                look is saved as PREFIX-NN.png
// P is leftmost, rightmost, topmost or bottommost; --near picks the match
// closest to another caption. Key names: F12 ENTER SPACE ESC UP DOWN LEFT RIGHT
// PAGEUP PAGEDOWN MENU TAB.

#include <QElapsedTimer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

[[noreturn]] void die(const QString &message)
{
    std::fprintf(stderr, "panel-operator: %s\n", qPrintable(message));
    std::exit(2);
}

// ---------------------------------------------------------------------------
// Keyboard
// ---------------------------------------------------------------------------

int keyCode(const QString &name)
{
    static const QMap<QString, int> codes = {
        {"F12", KEY_F12},       {"ENTER", KEY_ENTER},       {"SPACE", KEY_SPACE},  {"ESC", KEY_ESC},
        {"UP", KEY_UP},         {"DOWN", KEY_DOWN},         {"LEFT", KEY_LEFT},    {"RIGHT", KEY_RIGHT},
        {"PAGEUP", KEY_PAGEUP}, {"PAGEDOWN", KEY_PAGEDOWN}, {"MENU", KEY_COMPOSE}, {"TAB", KEY_TAB},
    };
    const auto found = codes.find(name.toUpper());
    if (found == codes.end())
        die("unknown key " + name);
    return *found;
}

QString x11KeyName(int code)
{
    static const QMap<int, QString> names = {
        {KEY_F12, "F12"},      {KEY_ENTER, "Return"},  {KEY_SPACE, "space"},  {KEY_ESC, "Escape"},
        {KEY_UP, "Up"},        {KEY_DOWN, "Down"},     {KEY_LEFT, "Left"},    {KEY_RIGHT, "Right"},
        {KEY_PAGEUP, "Prior"}, {KEY_PAGEDOWN, "Next"}, {KEY_COMPOSE, "Menu"}, {KEY_TAB, "Tab"},
    };
    return names.value(code);
}

class Keyboard
{
public:
    Keyboard()
    {
        const QByteArray path = qgetenv("PANEL_KEYBOARD");
        if (path.isEmpty())
            die("PANEL_KEYBOARD names no keyboard pipe");
        if (path == "x11") {
            _x11 = true;
            return;
        }
        // Non-blocking: the session script holds the pipe open, so this never
        // waits; should the panel have died, writing fails instead of hanging.
        _fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK);
        if (_fd < 0)
            die(QString("cannot open %1: %2").arg(QString(path), std::strerror(errno)));
    }
    ~Keyboard()
    {
        if (_fd >= 0)
            ::close(_fd);
    }

    // value: 1 press, 0 release, 2 the keyboard's own repeat.
    void send(int code, int value)
    {
        if (_x11) {
            // The X server repeats held keys itself.
            if (value != 2) {
                const QString command = QString("xdotool %1 %2").arg(value ? "keydown" : "keyup", x11KeyName(code));
                if (std::system(qPrintable(command)) != 0)
                    die("xdotool failed");
            }
            return;
        }
        input_event events[2];
        std::memset(events, 0, sizeof events);
        gettimeofday(&events[0].time, nullptr);
        events[0].type = EV_KEY;
        events[0].code = code;
        events[0].value = value;
        events[1].time = events[0].time;
        events[1].type = EV_SYN;
        events[1].code = SYN_REPORT;
        if (::write(_fd, events, sizeof events) != ssize_t(sizeof events))
            die(QString("writing a key event failed: %1").arg(std::strerror(errno)));
    }

    void tap(int code)
    {
        send(code, 1);
        QThread::msleep(40);
        send(code, 0);
        QThread::msleep(60);
    }

    // Like a PC keyboard: repeats after 250 ms, every 33 ms.
    void hold(int code, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        send(code, 1);
        qint64 next = 250;
        while (clock.elapsed() < ms) {
            if (clock.elapsed() >= next) {
                send(code, 2);
                next += 33;
            }
            QThread::msleep(2);
        }
        send(code, 0);
    }

private:
    int _fd = -1;
    bool _x11 = false;
};

// ---------------------------------------------------------------------------
// Looking
// ---------------------------------------------------------------------------

QImage grabScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        die("no X screen");
    return screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

inline int luminance(QRgb c)
{
    return (qRed(c) * 299 + qGreen(c) * 587 + qBlue(c) * 114) / 1000;
}

// A template is a set of pixels that must be dark ("ink") and a set that must
// be light ("paper"), relative to its top-left corner.
struct Pattern
{
    QVector<QPoint> ink;
    QVector<QPoint> paper;
    QSize size;
};

struct Match
{
    QRect box;
    double score = 0;
};

// The screenshot as grey levels, computed once per look.
struct Grey
{
    explicit Grey(const QImage &screen)
        : width(screen.width())
        , height(screen.height())
        , lum(screen.width() * screen.height())
    {
        for (int y = 0; y < height; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(screen.constScanLine(y));
            for (int x = 0; x < width; ++x)
                lum[y * width + x] = uchar(luminance(line[x]));
        }
    }
    int width;
    int height;
    QVector<uchar> lum;
};

// Every place where the pattern fits well enough, best first, with the
// overlapping weaker ones dropped.
QList<Match> matches(const Grey &grey, Pattern pattern, int inkBelow, int paperAbove, double threshold)
{
    if (pattern.ink.isEmpty())
        return {};
    // A spread-out sample of the ink rejects almost every place after a few
    // pixels; the full count runs only where the sample fits.
    std::srand(1);
    std::random_shuffle(pattern.ink.begin(), pattern.ink.end(), [](int n) { return std::rand() % n; });
    std::random_shuffle(pattern.paper.begin(), pattern.paper.end(), [](int n) { return std::rand() % n; });
    const int sample = std::min(16, int(pattern.ink.size()));
    const int paperSample = std::min(16, int(pattern.paper.size()));
    const int allowedSampleMisses = (sample + paperSample) / 5;
    const int allowedInkMisses = int(pattern.ink.size() * (1.0 - threshold));
    const int width = grey.width;

    QList<Match> found;
    for (int y = 0; y + pattern.size.height() <= grey.height; ++y) {
        for (int x = 0; x + pattern.size.width() <= width; ++x) {
            const uchar *origin = grey.lum.constData() + y * width + x;
            int misses = 0;
            int i = 0;
            for (; i < sample; ++i) {
                const QPoint &p = pattern.ink.at(i);
                misses += origin[p.y() * width + p.x()] >= inkBelow;
            }
            // Paper too, or a dark area would pass every ink test.
            for (int j = 0; j < paperSample; ++j) {
                const QPoint &p = pattern.paper.at(j);
                misses += origin[p.y() * width + p.x()] <= paperAbove;
            }
            if (misses > allowedSampleMisses)
                continue;
            misses = 0;
            i = 0;
            for (; i < pattern.ink.size() && misses <= allowedInkMisses; ++i) {
                const QPoint &p = pattern.ink.at(i);
                misses += origin[p.y() * width + p.x()] >= inkBelow;
            }
            if (misses > allowedInkMisses)
                continue;
            int paperHits = 0;
            for (const QPoint &p : qAsConst(pattern.paper))
                paperHits += origin[p.y() * width + p.x()] > paperAbove;
            const double inkScore = 1.0 - double(misses) / pattern.ink.size();
            const double paperScore = pattern.paper.isEmpty() ? 1.0 : double(paperHits) / pattern.paper.size();
            const double score = inkScore * paperScore;
            if (score >= threshold)
                found.append({QRect(QPoint(x, y), pattern.size), score});
        }
    }
    std::sort(found.begin(), found.end(), [](const Match &a, const Match &b) { return a.score > b.score; });
    QList<Match> kept;
    for (const Match &m : qAsConst(found)) {
        bool overlaps = false;
        for (const Match &k : qAsConst(kept))
            overlaps = overlaps || k.box.intersects(m.box);
        if (!overlaps)
            kept.append(m);
    }
    return kept;
}

// The pointer's arrow as the panel draws it: a white arrow with a black
// outline whose hotspot is the top-left corner of its 20 x 28 box.
Pattern arrowPattern()
{
    QImage image(20, 28, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::black, 1.5));
        painter.setBrush(Qt::white);
        const QPolygonF outline({{1, 1}, {1, 21}, {6, 16}, {9, 24}, {13, 22}, {10, 15}, {16, 14}});
        painter.drawPolygon(outline, Qt::OddEvenFill);
    }
    Pattern pattern;
    pattern.size = image.size();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 250)
                continue;
            if (c.lightness() < 60)
                pattern.ink.append(QPoint(x, y));
            else if (c.lightness() > 240)
                pattern.paper.append(QPoint(x, y));
        }
    }
    return pattern;
}

bool findArrow(const QImage &screen, QPoint *hotspot)
{
    const QList<Match> found = matches(Grey(screen), arrowPattern(), 110, 200, 0.85);
    if (found.isEmpty())
        return false;
    *hotspot = found.first().box.topLeft();
    return true;
}

// A caption drawn in the system font at one pixel size: its ink and the
// clear pixels around the glyphs.
Pattern textPattern(const QString &text, double pixelSize)
{
    QFont font;
    font.setPixelSize(1);
    font.setPointSizeF(pixelSize); // on a 72 dpi image a point is a pixel
    QImage probe(1, 1, QImage::Format_ARGB32);
    probe.setDotsPerMeterX(int(72 / 0.0254));
    probe.setDotsPerMeterY(int(72 / 0.0254));
    const QRectF bounds = QFontMetricsF(font, &probe).tightBoundingRect(text);
    QImage image(int(std::ceil(bounds.width())) + 4, int(std::ceil(bounds.height())) + 4, QImage::Format_ARGB32);
    image.setDotsPerMeterX(probe.dotsPerMeterX());
    image.setDotsPerMeterY(probe.dotsPerMeterY());
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(2 - bounds.left(), 2 - bounds.top()), text);
    }
    Pattern pattern;
    pattern.size = image.size();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            if (alpha > 170)
                pattern.ink.append(QPoint(x, y));
            else if (alpha == 0)
                pattern.paper.append(QPoint(x, y));
        }
    }
    return pattern;
}

// The size the panel draws its captions at is not known in advance (font,
// dpi, style): try them all. Among sizes that fit about equally well the
// largest wins: a small pattern such as "+" also fits bits of other letters.
QList<Match> findText(const QImage &screen, const QString &text)
{
    const Grey grey(screen);
    struct Fit
    {
        double size;
        int ink;
        QList<Match> found;
    };
    QList<Fit> fits;
    auto tryAt = [&](double size) {
        const Pattern pattern = textPattern(text, size);
        const QList<Match> found = matches(grey, pattern, 120, 150, 0.80);
        if (!found.isEmpty())
            fits.append({size, int(pattern.ink.size()), found});
    };
    for (int size = 9; size <= 44; ++size)
        tryAt(size);
    if (fits.isEmpty())
        return {};
    auto best = [&]() {
        double top = 0;
        for (const Fit &f : qAsConst(fits))
            top = std::max(top, f.found.first().score);
        const Fit *chosen = nullptr;
        for (const Fit &f : qAsConst(fits)) {
            if (f.found.first().score >= top - 0.03 && (!chosen || f.ink > chosen->ink))
                chosen = &f;
        }
        return *chosen;
    };
    const double coarse = best().size;
    tryAt(coarse - 0.5);
    tryAt(coarse + 0.5);
    const Fit chosen = best();

    // Keep only the matches nearly as good as the best: other places where
    // the same caption is written.
    QList<Match> kept;
    for (const Match &m : chosen.found) {
        if (m.score >= chosen.found.first().score - 0.08)
            kept.append(m);
    }
    return kept;
}

struct Target
{
    QString text;
    QString pick;
    QString near;
};

bool locate(const QImage &screen, const Target &target, Match *result)
{
    QList<Match> found = findText(screen, target.text);
    if (found.isEmpty())
        return false;
    if (!target.near.isEmpty()) {
        const QList<Match> anchors = findText(screen, target.near);
        if (anchors.isEmpty())
            return false;
        const QPoint anchor = anchors.first().box.center();
        std::sort(found.begin(), found.end(), [&](const Match &a, const Match &b) {
            return (a.box.center() - anchor).manhattanLength() < (b.box.center() - anchor).manhattanLength();
        });
    } else if (target.pick == "leftmost") {
        std::sort(found.begin(), found.end(), [](const Match &a, const Match &b) { return a.box.x() < b.box.x(); });
    } else if (target.pick == "rightmost") {
        std::sort(found.begin(), found.end(), [](const Match &a, const Match &b) { return a.box.x() > b.box.x(); });
    } else if (target.pick == "topmost") {
        std::sort(found.begin(), found.end(), [](const Match &a, const Match &b) { return a.box.y() < b.box.y(); });
    } else if (target.pick == "bottommost") {
        std::sort(found.begin(), found.end(), [](const Match &a, const Match &b) { return a.box.y() > b.box.y(); });
    } else if (!target.pick.isEmpty()) {
        die("unknown pick " + target.pick);
    }
    *result = found.first();
    return true;
}

// ---------------------------------------------------------------------------
// Steering
// ---------------------------------------------------------------------------

// Pixels covered after n ticks of a held arrow key: the pointer's ramp.
int rampDistance(int ticks)
{
    double speed = 2.0;
    int distance = 0;
    for (int i = 0; i < ticks; ++i) {
        speed += 0.7;
        if (speed >= 26.0)
            speed = 26.0;
        distance += std::max(1, int(speed));
    }
    return distance;
}

// Ticks to hold for a distance, erring short: the next look corrects.
int ticksFor(int distance)
{
    const int aim = distance > 60 ? int(distance * 0.85) : distance;
    int ticks = 1;
    while (rampDistance(ticks + 1) <= aim)
        ++ticks;
    return ticks;
}

QString numbered(const QString &prefix, int n)
{
    return QString("%1-%2.png").arg(prefix).arg(n, 2, 10, QChar('0'));
}

// A busy machine may grab the screen while the pointer's overlay is being
// repainted; the pointer is missing only when later looks agree.
bool findArrowSettled(QImage *screen, QPoint *hotspot)
{
    for (int retry = 0; retry < 10; ++retry) {
        if (findArrow(*screen, hotspot))
            return true;
        QThread::msleep(200);
        *screen = grabScreen();
    }
    return findArrow(*screen, hotspot);
}

int steer(Keyboard &keyboard, const QString &prefix, const Target &target)
{
    Match goal;
    QImage screen = grabScreen();
    screen.save(numbered(prefix, 0));
    if (!locate(screen, target, &goal))
        die(QString("no \"%1\" on the screen (%2)").arg(target.text, numbered(prefix, 0)));
    // Aim inside the caption's box; the button around it is bigger still.
    const QRect accept = goal.box.adjusted(-2, -2, 2, 2);
    const QPoint aim = goal.box.center();
    std::printf("target \"%s\" at %d,%d %dx%d score %.2f\n", qPrintable(target.text), goal.box.x(), goal.box.y(),
                goal.box.width(), goal.box.height(), goal.score);

    for (int look = 1; look <= 30; ++look) {
        QPoint hotspot;
        if (!findArrowSettled(&screen, &hotspot)) {
            screen.save(numbered(prefix, look - 1));
            die(QString("no pointer on the screen (%1)").arg(numbered(prefix, look - 1)));
        }
        std::printf("look %d: pointer at %d,%d\n", look - 1, hotspot.x(), hotspot.y());
        std::fflush(stdout);
        if (accept.contains(hotspot))
            return 0;

        // Both axes at once: each arrow is held for its own number of ticks,
        // and the shared ramp keeps rising while either is held.
        const int dx = aim.x() - hotspot.x();
        const int dy = aim.y() - hotspot.y();
        struct Hold
        {
            int code;
            qint64 untilMs;
        };
        QList<Hold> holds;
        if (!(hotspot.x() >= accept.left() && hotspot.x() <= accept.right()))
            holds.append({dx > 0 ? KEY_RIGHT : KEY_LEFT, ticksFor(qAbs(dx)) * 16 + 8});
        if (!(hotspot.y() >= accept.top() && hotspot.y() <= accept.bottom()))
            holds.append({dy > 0 ? KEY_DOWN : KEY_UP, ticksFor(qAbs(dy)) * 16 + 8});
        QElapsedTimer clock;
        clock.start();
        for (const Hold &h : qAsConst(holds))
            keyboard.send(h.code, 1);
        while (!holds.isEmpty()) {
            for (int i = holds.size() - 1; i >= 0; --i) {
                if (clock.elapsed() >= holds.at(i).untilMs) {
                    keyboard.send(holds.at(i).code, 0);
                    holds.removeAt(i);
                }
            }
            QThread::usleep(500);
        }
        // Let the last tick and the repaint reach the display.
        QThread::msleep(150);
        screen = grabScreen();
        screen.save(numbered(prefix, look));
    }
    die("the pointer did not reach \"" + target.text + "\"");
}

Target targetFrom(const QStringList &args, int first)
{
    Target target;
    target.text = args.value(first);
    for (int i = first + 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == "--pick")
            target.pick = args.at(i + 1);
        else if (args.at(i) == "--near")
            target.near = args.at(i + 1);
        else
            die("unknown option " + args.at(i));
    }
    return target;
}

QImage load(const QString &file)
{
    QImage image(file);
    if (image.isNull())
        die("cannot read " + file);
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

int main(int argc, char *argv[])
{
    // Screenshots come from the X display; the finding needs no display but
    // renders with the same fonts.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString command = args.value(1);

    if (command == "shot" && args.size() == 3) {
        if (!grabScreen().save(args.at(2)))
            die("cannot write " + args.at(2));
        return 0;
    }
    if (command == "key" && args.size() >= 3) {
        Keyboard keyboard;
        for (int i = 2; i < args.size(); ++i)
            keyboard.tap(keyCode(args.at(i)));
        return 0;
    }
    if (command == "hold" && args.size() == 4) {
        Keyboard keyboard;
        keyboard.hold(keyCode(args.at(2)), args.at(3).toInt());
        return 0;
    }
    if (command == "find" && args.size() >= 4) {
        Match m;
        if (!locate(load(args.at(2)), targetFrom(args, 3), &m))
            return 1;
        std::printf("%d %d %d %d %.2f\n", m.box.x(), m.box.y(), m.box.width(), m.box.height(), m.score);
        return 0;
    }
    if (command == "arrow" && args.size() == 3) {
        QPoint hotspot;
        if (!findArrow(load(args.at(2)), &hotspot))
            return 1;
        std::printf("%d %d\n", hotspot.x(), hotspot.y());
        return 0;
    }
    if (command == "goto" && args.size() >= 4) {
        Keyboard keyboard;
        return steer(keyboard, args.at(2), targetFrom(args, 3));
    }
    std::fprintf(stderr, "usage: see the head of panel-operator.cpp\n");
    return 2;
}
