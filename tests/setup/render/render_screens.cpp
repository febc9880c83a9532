// Renders every settings screen to PNG, as the panel shows it, and checks each
// picture for what an operator would call broken: a font without Cyrillic,
// blank labels, text cut off, widgets on top of each other, a screen larger
// than the display.
//
//   render-screens OUTPUT_DIR
//
// Writes mainwindow-static.png, mainwindow-dhcp.png, dialog-ip.png,
// dialog-mask.png and dialog-time.png at the size the screens ask for, and
// each of them again as the panel shows it on the common displays, fitted by
// ScreenFit, under names such as mainwindow-static-800x480.png. Every screen
// is also drawn as it was before screens were fitted; where that drawing
// passes the checks, the fitted one must be the same to the pixel. The DHCP
// pictures need a real lease, so the program brings eth0 up and runs inside
// the panel sandbox only. Exits 0 when every picture passed its checks, 1
// otherwise.

#include "configuration.h"
#include "dialogeditip.h"
#include "dialogeditmask.h"
#include "dialogedittime.h"
#include "mainwindow.h"
#include "sandboxguard.h"
#include "screenfit.h"
#include "screenhelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using ScreenTest::besideExecutable;
using ScreenTest::writeFile;

namespace {

int defects = 0;
int checked = 0;

void defect(const QString &picture, const QString &what)
{
    ++defects;
    std::fprintf(stderr, "DEFECT %s: %s\n", qPrintable(picture), qPrintable(what));
}

// Values as a panel in the field holds them.
void writeDeviceFiles()
{
    writeFile(besideExecutable("settings.json"), QJsonDocument(ScreenTest::fieldSettings()).toJson());
    writeFile(besideExecutable("header.txt"), "ООО «Техпром» — линия розлива №2\nПульт оператора ПО-7\n");
    writeFile(besideExecutable("serial.txt"), "PO7-2024-000137\n");
}

// Every text on the screens must be drawable: without a font that covers
// Cyrillic, Qt draws nothing in its place and says nothing.
QStringList uncoveredTexts(const QWidget &screen)
{
    QStringList problems;
    for (const QWidget *widget : screen.findChildren<QWidget *>()) {
        QString text;
        if (auto *label = qobject_cast<const QLabel *>(widget))
            text = label->text();
        else if (auto *button = qobject_cast<const QAbstractButton *>(widget))
            text = button->text();
        else if (auto *group = qobject_cast<const QGroupBox *>(widget))
            text = group->title();
        const QFontMetrics metrics(widget->font());
        QString missing;
        for (const QChar c : text) {
            if (!c.isSpace() && !metrics.inFont(c) && !missing.contains(c))
                missing += c;
        }
        if (!missing.isEmpty())
            problems << QStringLiteral("no font draws \"%1\" of %2").arg(missing, widget->objectName());
    }
    return problems;
}

// Text pixels where the text is: a label whose font draws nothing is only
// background, however right its text() is. Disabled text is grey, not black,
// so ink is whatever stands out from the widget's most common colour.
bool hasInk(QWidget *widget)
{
    const QImage image = widget->grab().toImage();
    const QRect inner = image.rect().adjusted(4, 4, -4, -4);
    QVector<int> histogram(256, 0);
    for (int y = inner.top(); y <= inner.bottom(); ++y) {
        for (int x = inner.left(); x <= inner.right(); ++x)
            ++histogram[qGray(image.pixel(x, y))];
    }
    const int background = int(std::max_element(histogram.cbegin(), histogram.cend()) - histogram.cbegin());
    int ink = 0;
    for (int gray = 0; gray < 256; ++gray) {
        if (qAbs(gray - background) > 35)
            ink += histogram[gray];
    }
    return ink >= 8;
}

QString describe(const QWidget *widget)
{
    return widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                          : widget->objectName();
}

QStringList layoutProblems(QWidget &screen)
{
    QStringList problems;
    const QList<QWidget *> widgets = screen.findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (!widget->isVisibleTo(&screen) || widget->inherits("QMenuBar") || widget->inherits("QStatusBar"))
            continue;
        ++checked;
        // Text cut off: a widget narrower or lower than its text needs.
        const QSize needed = widget->minimumSizeHint();
        if (needed.isValid() && (widget->width() < needed.width() || widget->height() < needed.height()))
            problems << QStringLiteral("%1 is %2x%3 but its content needs %4x%5")
                            .arg(describe(widget))
                            .arg(widget->width())
                            .arg(widget->height())
                            .arg(needed.width())
                            .arg(needed.height());
        if (!screen.rect().contains(QRect(widget->mapTo(&screen, QPoint()), widget->size())))
            problems << QStringLiteral("%1 reaches outside the screen").arg(describe(widget));

        QString text;
        if (auto *label = qobject_cast<QLabel *>(widget))
            text = label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            text = button->text();
        if (widget->inherits("QLabel") || widget->inherits("QPushButton")) {
            if (text.isEmpty())
                problems << QStringLiteral("%1 is blank").arg(describe(widget));
            else if (!hasInk(widget))
                problems << QStringLiteral("%1 shows no text (\"%2\")").arg(describe(widget), text);
        }
    }
    // Overlap: no two visible siblings may share pixels.
    for (QWidget *parent : QList<QWidget *>{&screen} + widgets) {
        QList<QWidget *> children;
        for (QObject *object : parent->children()) {
            auto *w = qobject_cast<QWidget *>(object);
            if (w && w->isVisibleTo(&screen) && !w->isWindow())
                children << w;
        }
        for (int i = 0; i < children.size(); ++i) {
            for (int j = i + 1; j < children.size(); ++j) {
                if (children[i]->geometry().intersects(children[j]->geometry()))
                    problems << QStringLiteral("%1 and %2 overlap").arg(describe(children[i]), describe(children[j]));
            }
        }
    }
    return problems;
}

// The clocks show the minute the renderer started, so that two drawings of a
// screen compare whenever they are made.
const QDateTime pinnedMoment = QDateTime::currentDateTime();

void pinClocks(QWidget &screen)
{
    if (auto *clock = screen.findChild<QAbstractButton *>(QStringLiteral("pushButton_timeDateSetup")))
        clock->setText(pinnedMoment.toString(QStringLiteral("⚙ yyyy.MM.dd hh:mm")));
    const char *formats[] = {"yyyy", "MM", "dd", "hh", "mm"};
    for (int i = 0; i < 5; ++i) {
        if (auto *label = screen.findChild<QLabel *>(QStringLiteral("label_%1").arg(i + 1)))
            label->setText(pinnedMoment.toString(QLatin1String(formats[i])));
    }
}

struct Drawing
{
    QImage image;
    QStringList problems;
};

// A screen as the panel shows it on a display of the given size: a main window
// fills the display, a dialog keeps its own size. An invalid size draws the
// screen at the size it asks for.
Drawing draw(QWidget &screen, const QSize &display)
{
    pinClocks(screen);
    if (display.isValid() && !screen.parentWidget())
        screen.resize(display);
    screen.show();
    // Layouts settle on the first shown pass of the event loop.
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    Drawing drawing;
    drawing.problems = uncoveredTexts(screen) + layoutProblems(screen);
    if (display.isValid() && (screen.width() > display.width() || screen.height() > display.height()))
        drawing.problems
            << QStringLiteral("the screen is %1x%2, larger than the display").arg(screen.width()).arg(screen.height());
    drawing.image = screen.grab().toImage();
    return drawing;
}

void save(const QImage &image, const QString &outputDir, const QString &picture)
{
    const QString path = QDir(outputDir).filePath(picture);
    if (!image.save(path))
        defect(picture, QStringLiteral("cannot write %1").arg(path));
}

void render(QWidget &screen, const QString &outputDir, const QString &picture)
{
    const Drawing drawing = draw(screen, QSize());
    for (const QString &problem : drawing.problems)
        defect(picture, problem);
    save(drawing.image, outputDir, picture);
    std::printf("wrote %s (%dx%d, needs at least %dx%d)\n", qPrintable(picture), screen.width(), screen.height(),
                screen.minimumSizeHint().width(), screen.minimumSizeHint().height());
    screen.hide();
}

bool waitForLease(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!Configuration::getCurretnIpAddress(Configuration::DEFAULT_NETWORK_INTERFACE).isEmpty()
            && !Configuration::getCurrentGatewayFromProc(Configuration::DEFAULT_NETWORK_INTERFACE).isEmpty())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
    return false;
}

// Every screen on one display, with or without fitting: both main windows,
// and the three dialogs over the static one, as the operator opens them.
QMap<QString, Drawing> drawScreens(const QSize &display, ScreenFit *fit, QMap<QString, qreal> *factors)
{
    Configuration *c = Configuration::instation();
    QMap<QString, Drawing> drawings;
    auto keep = [&](QWidget &screen, const QString &name) {
        drawings.insert(name, draw(screen, display));
        if (fit)
            factors->insert(name, fit->factorOf(&screen));
    };
    c->_dhcpEnable = false;
    MainWindow window;
    keep(window, QStringLiteral("mainwindow-static"));
    const QList<std::pair<QString, std::function<QDialog *()>>> dialogs = {
        {QStringLiteral("dialog-ip"),
         [&] { return new DialogEditIp(QStringLiteral("Изменение IP адреса:"), c->_netIp, &window); }},
        {QStringLiteral("dialog-mask"),
         [&] { return new DialogEditMask(QStringLiteral("Изменение маски сети:"), c->_netMask, &window); }},
        {QStringLiteral("dialog-time"), [&] { return new DialogEditTime(&window); }},
    };
    for (const auto &dialog : dialogs) {
        std::unique_ptr<QDialog> screen(dialog.second());
        keep(*screen, dialog.first);
    }
    window.hide();
    c->_dhcpEnable = true;
    MainWindow dhcpWindow;
    keep(dhcpWindow, QStringLiteral("mainwindow-dhcp"));
    c->_dhcpEnable = false;
    return drawings;
}

} // namespace

int main(int argc, char *argv[])
{
    requireSandbox();
    if (argc < 2) {
        std::fprintf(stderr, "usage: render-screens OUTPUT_DIR\n");
        return 2;
    }
    // As the interactive mode sets them on the panel, but drawn offscreen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_FONT_DPI", "140");
    qputenv("QT_SCALE_FACTOR", "1");
    QApplication application(argc, argv);
    const QString outputDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!QDir().mkpath(outputDir)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(outputDir));
        return 2;
    }

    writeDeviceFiles();
    Configuration *c = Configuration::instation();
    // The sandbox shares this host's name; a panel carries its own.
    c->_hostName = QStringLiteral("po7-000137");

    {
        MainWindow window;
        render(window, outputDir, QStringLiteral("mainwindow-static.png"));
    }
    {
        DialogEditIp dialog(QStringLiteral("Изменение IP адреса:"), c->_netIp);
        render(dialog, outputDir, QStringLiteral("dialog-ip.png"));
    }
    {
        DialogEditMask dialog(QStringLiteral("Изменение маски сети:"), c->_netMask);
        render(dialog, outputDir, QStringLiteral("dialog-mask.png"));
    }
    {
        DialogEditTime dialog;
        render(dialog, outputDir, QStringLiteral("dialog-time.png"));
    }
    {
        c->_dhcpEnable = true;
        c->_showCmdButton = false;
        c->initNetwork();
        if (!waitForLease(20000))
            defect(QStringLiteral("mainwindow-dhcp.png"), QStringLiteral("no DHCP lease within 20 s"));
        MainWindow window;
        render(window, outputDir, QStringLiteral("mainwindow-dhcp.png"));
        if (window.findChild<QLabel *>(QStringLiteral("label_ip"))->text().isEmpty())
            defect(QStringLiteral("mainwindow-dhcp.png"), QStringLiteral("no leased address shown"));
    }

    // The common panel displays, with the command-line button shown: the
    // widest the main window gets.
    c->_showCmdButton = true;
    const QList<QSize> displays = {{800, 480}, {800, 600}, {1024, 600}, {1024, 768}, {1280, 800}};
    for (const QSize &display : displays) {
        const QString size = QStringLiteral("%1x%2").arg(display.width()).arg(display.height());
        const QMap<QString, Drawing> unfitted = drawScreens(display, nullptr, nullptr);
        QMap<QString, qreal> factors;
        QMap<QString, Drawing> fitted;
        {
            ScreenFit fit(nullptr, display);
            fit.install();
            fitted = drawScreens(display, &fit, &factors);
        }
        for (auto it = fitted.cbegin(); it != fitted.cend(); ++it) {
            const QString picture = it.key() + QLatin1Char('-') + size + QStringLiteral(".png");
            for (const QString &problem : it->problems)
                defect(picture, problem);
            if (unfitted[it.key()].problems.isEmpty() && unfitted[it.key()].image != it->image)
                defect(picture, QStringLiteral("differs from the screen as drawn without fitting, which fits"));
            save(it->image, outputDir, picture);
            std::printf("wrote %s (fonts at %.2f)\n", qPrintable(picture), factors[it.key()]);
        }
    }

    std::printf("%d passed, %d failed\n", checked - qMin(checked, defects), defects);
    return defects == 0 ? 0 : 1;
}
