// The scene without a tray host (offscreen has none): the panel is a small
// ordinary window, a later copy of Pealix brings it back, its buttons open the
// settings window and quit.
#include "PanelRig.h"

#include "ui/PanelWindow.h"
#include "ui/SettingsWindow.h"
#include "ui/SingleInstance.h"
#include "ui/TrayScene.h"

#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTabWidget>

#include <future>

using namespace pealix;
using namespace pealix::test;
using namespace Qt::StringLiterals;

TEST(TrayScene, WithoutATrayThePanelIsAWindowThatASecondStartBringsBack)
{
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    PanelRig rig;
    rig.panel->hide();
    TrayScene scene(&rig.store, &rig.messages, rig.broadcast.broadcaster.get(), nullptr,
                    rig.broadcast.preferences);
    EXPECT_EQ(scene.trayIcon()->toolTip(), u"Pealix"_s);
    QStringList menu;
    for (const QAction *action : scene.trayIcon()->contextMenu()->actions()) {
        if (!action->isSeparator())
            menu << action->text();
    }
    EXPECT_EQ(menu, (QStringList{u"Open Pealix"_s, u"Settings\u2026"_s, u"Quit"_s}));

    scene.start();
    PanelWindow *window = scene.panelWindow();
    ASSERT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isPopup());
    EXPECT_EQ(window->windowTitle(), u"Pealix"_s);
    window->close();

    QTemporaryDir dir;
    SingleInstance instance(dir.filePath(u"instance"_s));
    scene.listenTo(&instance);
    ASSERT_TRUE(instance.claim());
    auto answer = std::async(std::launch::async,
                             [&] { return SingleInstance::send(dir.filePath(u"instance"_s), u"show"_s); });
    ASSERT_TRUE(waitUntil([&] { return window->isVisible(); }));
    ASSERT_TRUE(
        waitUntil([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(answer.get(), u"ok"_s);

    // "Settings…" opens the settings window on its first tab; "Quit" asks to end.
    QTest::mouseClick(child<QPushButton>(window, "settingsButton"), Qt::LeftButton);
    ASSERT_TRUE(scene.settingsWindow()->isVisible());
    EXPECT_EQ(scene.settingsWindow()->tabs()->currentIndex(), 0);
    QSignalSpy quit(&scene, &TrayScene::quitRequested);
    QTest::mouseClick(child<QPushButton>(window, "quitButton"), Qt::LeftButton);
    EXPECT_EQ(quit.count(), 1);
}
