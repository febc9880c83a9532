#include "widgetfinders.h"

#include <QCoreApplication>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

namespace ScreenTest {

QAbstractButton *button(QWidget &window, const QString &name)
{
    return child<QAbstractButton>(window, name);
}

QAbstractButton *button(QWidget &window, const char *name)
{
    return child<QAbstractButton>(window, name);
}

QString text(QWidget &window, const char *labelName)
{
    return child<QLabel>(window, labelName)->text();
}

void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
}

void click(QCheckBox *checkBox)
{
    QStyleOptionButton option;
    option.initFrom(checkBox);
    const QRect box = checkBox->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, checkBox);
    QTest::mouseClick(checkBox, Qt::LeftButton, Qt::NoModifier, box.center());
}

void clickTimes(QAbstractButton *button, int times)
{
    for (int i = 0; i < times; ++i)
        click(button);
}

int execWith(std::function<void()> action, int limitMs)
{
    QTimer::singleShot(0, action);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    limit.start(limitMs);
    return QCoreApplication::exec();
}

} // namespace ScreenTest
