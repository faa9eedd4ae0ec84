// The user's language, as LANG gives it (CTest runs this under LANG=C and LANG=de_DE.UTF-8):
// every text of the window, the missing-client alert and real notifications through dunst is
// exactly the English one, or the German one.
#include "ClientLines.h"
#include "TestSupport.h"
#include "app/QuillbyApp.h"
#include "app/StatusWindow.h"
#include "app/Translations.h"
#include "model/AccountFiles.h"
#include "model/TunnelStore.h"
#include "platform/ClientInstallCommand.h"
#include "platform/Notifier.h"
#include "ui/ElidedLabel.h"
#include "ui/StatusMenuView.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <csignal>

using namespace Qt::StringLiterals;

using namespace TestSupport;

namespace {

constexpr int slow = 15000;

// Sorted, once each, without empty ones.
QStringList sortedOnce(QStringList list) {
    list.removeAll(QString());
    list.sort();
    list.removeDuplicates();
    return list;
}

// Every non-empty text a user can see or hear from the shown widgets, sorted, once each.
QStringList shownTexts(const QWidget* top) {
    QStringList texts;
    const QList<const QWidget*> widgets = top->findChildren<const QWidget*>() << top;
    for (const QWidget* w : widgets) {
        if (!w->isVisible())
            continue;
        texts << w->toolTip() << w->accessibleName() << (w->isWindow() ? w->windowTitle() : "");
        if (auto* elided = qobject_cast<const ElidedLabel*>(w))
            texts << elided->fullText(); // shortened to fit, in the middle
        else if (auto* label = qobject_cast<const QLabel*>(w))
            texts << label->text();
        if (auto* button = qobject_cast<const QAbstractButton*>(w))
            texts << button->text();
        if (auto* edit = qobject_cast<const QLineEdit*>(w))
            texts << edit->text() << edit->placeholderText();
    }
    return sortedOnce(texts);
}

} // namespace

class TestLanguage : public QObject {
    Q_OBJECT

private slots:
    void everyTextInTheUsersLanguage() {
        const bool german = QLocale::system().language() == QLocale::German;
        const Translations translations;
        QCOMPARE(translations.isLoaded(), german);

        const QString install = createPlatformInstallCommand()->command();
        using Text = QStringList; // English, German
        const QList<Text> window = {
            {"No system tray was found, so Quillby shows its window here. Closing it leaves your "
             "tunnels running; start Quillby again to bring it back.",
             "Es wurde kein Infobereich gefunden, daher zeigt Quillby sein Fenster hier. Wenn Sie "
             "es schließen, laufen Ihre Tunnel weiter; starten Sie Quillby erneut, um es "
             "zurückzuholen."},
            {"Tunnels", "Tunnel"},
            {"1 active", "1 aktiv"},
            {"Add tunnel", "Tunnel hinzufügen"},
            {"Running", "Läuft"},
            // Nothing listens on the tunnel's port: the problem line and its tooltip.
            {"Nothing answers on port %1", "Auf Port %1 antwortet nichts"},
            {"Nothing accepts connections on 127.0.0.1:%1 or [::1]:%1",
             "Weder 127.0.0.1:%1 noch [::1]:%1 nimmt Verbindungen an"},
            {"Copy URL", "URL kopieren"},
            {"Open in Browser", "Im Browser öffnen"},
            {"Show QR Code", "QR-Code anzeigen"},
            {"Tunnel Options", "Tunneloptionen"},
            {"Stop", "Stoppen"},
            {"Delete tunnel", "Tunnel löschen"},
            {"Scan Local Ports", "Lokale Ports durchsuchen"},
            {"Hide the scanner", "Portsuche ausblenden"},
            {"Active Local Ports", "Aktive lokale Ports"},
            {"Scan ports", "Ports durchsuchen"},
            {"Click refresh to scan ports", "Zum Durchsuchen auf Aktualisieren klicken"},
            {"Sign In to Use Your Domain...", "Anmelden, um Ihre Domain zu nutzen …"},
            {"Once signed in, a tunnel can have an address on your own domain that stays",
             "Nach der Anmeldung kann ein Tunnel eine feste Adresse auf Ihrer eigenen Domain "
             "haben"},
            {"Launch at Login", "Bei der Anmeldung starten"},
            {"Quit", "Beenden"},
            {"cloudflared not found", "cloudflared nicht gefunden"},
            {"cloudflared is not installed.\nInstall it with: " + install,
             "cloudflared ist nicht installiert.\nInstallieren Sie es mit: " + install},
            {"Copy Install Command", "Installationsbefehl kopieren"},
        };
        const QList<Text> notifications = {
            {"'Tunnel' Active", "„Tunnel“ ist aktiv"},
            {"'Tunnel' Stopped", "„Tunnel“ wurde beendet"},
            // The second line is the client's own last line.
            {"Tunnel crashed (exit code: 1)\nconnection lost",
             "Tunnel abgestürzt (Exit-Code: 1)\nconnection lost"},
            {"'Site' Still in Your Account", "„Site“ ist noch in Ihrem Konto"},
            {"Its named tunnel could not be deleted from your account: The tunnel service's "
             "account cannot be reached; check the internet connection\nIts credentials file is "
             "kept.",
             "Sein benannter Tunnel konnte nicht aus Ihrem Konto gelöscht werden: Das Konto beim "
             "Tunneldienst ist nicht erreichbar; prüfen Sie die Internetverbindung\nSeine "
             "Zugangsdatei bleibt erhalten."},
            {"Shared for 1 second, as asked", "Wie gewünscht 1 Sekunde lang geteilt"},
        };
        // The same in both: names, numbers, the URL (the first tunnel is named "Tunnel" when it
        // is made, and a saved name is never translated later).
        const QString port = QString::number(closedPort());
        auto expected = [german, port](const QList<Text>& texts, QStringList list) {
            list << ClientLines::url;
            for (const Text& text : texts)
                list << QString(text[german]).replace("%1", port);
            return sortedOnce(list);
        };

        // The application as it runs, with its first tunnel running, the scanner open and the
        // missing-client alert up.
        TempHome home;
        auto settings = home.settings();
        const auto notifier = createPlatformNotifier();
        QVERIFY(notificationDaemonRunning());
        takeNotifications();
        QuillbyApp app({settings.get(), notifier.get(), nullptr, fakeClientLocator()});
        TunnelInstance* tunnel = app.store()->instances().front();
        tunnel->updatePort(port.toLongLong()); // not the host's 8000: nothing listens here
        app.start();
        StatusWindow* shown = app.statusWindow();
        QVERIFY(QTest::qWaitForWindowExposed(shown));
        tunnel->start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel->tunnelURL(), slow);
        shown->findChild<QAbstractButton*>(u"scannerToggle"_s)->click();
        shown->view()->showCloudflaredMissing();
        QTRY_VERIFY(shown->view()->cloudflaredMissingAlert()->isVisible());
        // The look at the port answers on its own time.
        QTRY_COMPARE(shownTexts(shown), expected(window, {"Quillby", "Tunnel", "Name", ":", "Port",
                                                          port, "OK", "\u22ef"}));

        // A removed tunnel's named tunnel not deleted (offline), a crash on demand, then a start
        // stopped at its time limit; the notifications as the daemon shows them.
        AccountApi offline("offline");
        writeFile(AccountFiles::loginCertificatePath(), certificate);
        const QUuid site = app.store()->addTunnel("Site", 3001)->id();
        writeFile(AccountFiles::credentialsPath(site),
                  R"({"TunnelID":"5b4e2e1c-6a43-4f77-9d0b-3c2f7a9e8d11"})");
        QSignalSpy deleted(app.store(), &TunnelStore::remoteDeleted);
        app.store()->removeTunnel(site, true);
        QVERIFY(deleted.wait(slow));
        ::kill(static_cast<pid_t>(tunnel->childPid()), SIGUSR1);
        QTRY_VERIFY_WITH_TIMEOUT(!tunnel->hasChild(), slow);
        tunnel->start();
        QTRY_VERIFY_WITH_TIMEOUT(tunnel->tunnelURL(), slow);
        tunnel->setStopAfter(std::chrono::seconds(1));
        QStringList posted;
        const auto take = [&posted, last = notifications.back()[german]] {
            for (const ShownNotification& note : takeNotifications())
                posted << note.summary << note.body;
            return posted.contains(last); // dunst may stack the second Active
        };
        QTRY_VERIFY_WITH_TIMEOUT(take(), slow);
        QCOMPARE(sortedOnce(posted), expected(notifications, {}));
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
