#include "ui/TunnelShareMenu.h"

#include "model/TunnelInstance.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QMenu>
#include <QPointer>

using namespace std::chrono_literals;

namespace TunnelShareMenu {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("TunnelShareMenu", text);
}

} // namespace

void addTo(QMenu* menu, TunnelInstance* tunnel) {
    QPointer<TunnelInstance> instance(tunnel);
    QAction* password = menu->addAction(tr("Require Password"));
    password->setObjectName(QStringLiteral("requirePasswordAction"));
    password->setCheckable(true);
    QObject::connect(password, &QAction::toggled, menu, [instance](bool on) {
        if (instance)
            instance->setRequirePassword(on);
    });

    QMenu* stopAfter = menu->addMenu(tr("Stop After"));
    stopAfter->setObjectName(QStringLiteral("stopAfterMenu"));
    auto* group = new QActionGroup(stopAfter);
    const std::pair<const char*, std::optional<std::chrono::seconds>> choices[] = {
        {QT_TRANSLATE_NOOP("TunnelShareMenu", "15 Minutes"), 15min},
        {QT_TRANSLATE_NOOP("TunnelShareMenu", "1 Hour"), 1h},
        {QT_TRANSLATE_NOOP("TunnelShareMenu", "4 Hours"), 4h},
        {QT_TRANSLATE_NOOP("TunnelShareMenu", "Until Stopped"), std::nullopt},
    };
    for (const auto& [text, limit] : choices) {
        QAction* choice = stopAfter->addAction(tr(text));
        choice->setCheckable(true);
        choice->setActionGroup(group);
        choice->setData(limit ? QVariant(qint64(limit->count())) : QVariant());
        // Chosen again, a limit starts counting again.
        QObject::connect(choice, &QAction::triggered, menu, [instance, limit = limit] {
            if (instance)
                instance->setStopAfter(limit);
        });
    }

    auto sync = [instance, password, stopAfter, group] {
        if (!instance)
            return;
        const QSignalBlocker blocker(password);
        password->setChecked(instance->config().password);
        stopAfter->setEnabled(instance->isRunning());
        const auto limit = instance->stopAfter();
        for (QAction* choice : group->actions())
            choice->setChecked(limit ? choice->data() == QVariant(qint64(limit->count()))
                                     : choice->data().isNull());
    };
    QObject::connect(menu, &QMenu::aboutToShow, menu, sync);
    sync();
}

} // namespace TunnelShareMenu
