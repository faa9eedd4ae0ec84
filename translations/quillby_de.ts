<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AccountOutcome</name>
    <message>
        <source>Sign in first: a tunnel on your own domain needs your account with the tunnel service</source>
        <translation>Melden Sie sich zuerst an: Ein Tunnel auf Ihrer eigenen Domain braucht Ihr Konto beim Tunneldienst</translation>
    </message>
    <message>
        <source>The account already has a tunnel of this name: %1</source>
        <translation>Das Konto hat schon einen Tunnel mit diesem Namen: %1</translation>
    </message>
    <message>
        <source>%1 is outside the domain you signed in for: %2</source>
        <translation>%1 liegt außerhalb der Domain, für die Sie angemeldet sind: %2</translation>
    </message>
    <message>
        <source>%1 is outside %2, the domain you signed in for; the service made a record %3 instead, which you can delete in its dashboard</source>
        <translation>%1 liegt außerhalb von %2, der Domain, für die Sie angemeldet sind; der Dienst hat stattdessen einen Eintrag %3 angelegt, den Sie in seinem Dashboard löschen können</translation>
    </message>
    <message>
        <source>%1 already points elsewhere; take it over to point it at this tunnel</source>
        <translation>%1 zeigt schon woandershin; übernehmen Sie den Namen, um ihn auf diesen Tunnel zu richten</translation>
    </message>
    <message>
        <source>The tunnel service&apos;s account cannot be reached; check the internet connection</source>
        <translation>Das Konto beim Tunneldienst ist nicht erreichbar; prüfen Sie die Internetverbindung</translation>
    </message>
    <message>
        <source>The tunnel service refused your sign-in (%1); sign in again</source>
        <translation>Der Tunneldienst hat Ihre Anmeldung abgelehnt (%1); melden Sie sich erneut an</translation>
    </message>
    <message>
        <source>This tunnel&apos;s credentials file is gone or unreadable; create the tunnel again</source>
        <translation>Die Zugangsdatei dieses Tunnels fehlt oder ist unlesbar; legen Sie den Tunnel neu an</translation>
    </message>
    <message>
        <source>cloudflared is not installed</source>
        <translation>cloudflared ist nicht installiert</translation>
    </message>
    <message>
        <source>Signing in timed out: the browser did not finish in time</source>
        <translation>Zeitüberschreitung bei der Anmeldung: Im Browser wurde sie nicht rechtzeitig abgeschlossen</translation>
    </message>
    <message>
        <source>The tunnel service&apos;s client failed: %1</source>
        <translation>Der Client des Tunneldienstes ist gescheitert: %1</translation>
    </message>
</context>
<context>
    <name>AccountSection</name>
    <message>
        <source>Sign In to Use Your Domain...</source>
        <translation>Anmelden, um Ihre Domain zu nutzen …</translation>
    </message>
    <message>
        <source>Once signed in, a tunnel can have an address on your own domain that stays</source>
        <translation>Nach der Anmeldung kann ein Tunnel eine feste Adresse auf Ihrer eigenen Domain haben</translation>
    </message>
    <message>
        <source>Signed in to use your domain</source>
        <translation>Angemeldet, um Ihre Domain zu nutzen</translation>
    </message>
    <message>
        <source>Waiting for you to sign in in the browser...</source>
        <translation>Warten auf Ihre Anmeldung im Browser …</translation>
    </message>
    <message>
        <source>Open in Browser</source>
        <translation>Im Browser öffnen</translation>
    </message>
    <message>
        <source>Copy URL</source>
        <translation>URL kopieren</translation>
    </message>
    <message>
        <source>Sign In Again...</source>
        <translation>Erneut anmelden …</translation>
    </message>
</context>
<context>
    <name>ActiveWait</name>
    <message>
        <source>%1 was removed.</source>
        <translation>%1 wurde entfernt.</translation>
    </message>
    <message>
        <source>%1 is not running.</source>
        <translation>%1 läuft nicht.</translation>
    </message>
    <message>
        <source>%1 is not running: %2</source>
        <translation>%1 läuft nicht: %2</translation>
    </message>
    <message>
        <source>%1 is still %2.</source>
        <translation>%1 ist noch im Zustand %2.</translation>
    </message>
    <message>
        <source>%1 is still %2: %3</source>
        <translation>%1 ist noch im Zustand %2: %3</translation>
    </message>
</context>
<context>
    <name>AddressDialog</name>
    <message>
        <source>Address of %1</source>
        <translation>Adresse von %1</translation>
    </message>
    <message>
        <source>Quick: a new trycloudflare.com address at each start</source>
        <translation>Schnell: bei jedem Start eine neue trycloudflare.com-Adresse</translation>
    </message>
    <message>
        <source>On your own domain, the same at every start:</source>
        <translation>Auf Ihrer eigenen Domain, bei jedem Start dieselbe:</translation>
    </message>
    <message>
        <source>Host name</source>
        <translation>Hostname</translation>
    </message>
    <message>
        <source>Quillby creates the tunnel in your account and points the name at it on the first start.</source>
        <translation>Beim ersten Start legt Quillby den Tunnel in Ihrem Konto an und lässt den Namen auf ihn zeigen.</translation>
    </message>
    <message>
        <source>The running tunnel restarts on the new address.</source>
        <translation>Der laufende Tunnel startet mit der neuen Adresse neu.</translation>
    </message>
</context>
<context>
    <name>CloudflaredMissingAlert</name>
    <message>
        <source>cloudflared not found</source>
        <translation>cloudflared nicht gefunden</translation>
    </message>
    <message>
        <source>cloudflared is not installed.
Install it with: %1</source>
        <translation>cloudflared ist nicht installiert.
Installieren Sie es mit: %1</translation>
    </message>
    <message>
        <source>Copy Install Command</source>
        <translation>Installationsbefehl kopieren</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>CommandHandler</name>
    <message>
        <source>No tunnel has the name, port or id &quot;%1&quot;.</source>
        <translation>Kein Tunnel hat den Namen, Port oder die ID „%1“.</translation>
    </message>
    <message numerus="yes">
        <source>&quot;%1&quot; matches %n tunnels; name one by its id:</source>
        <translation>
            <numerusform>„%1“ passt auf %n Tunnel; geben Sie einen über seine ID an:</numerusform>
            <numerusform>„%1“ passt auf %n Tunnel; geben Sie einen über seine ID an:</numerusform>
        </translation>
    </message>
    <message>
        <source>cloudflared is not installed, so %1 cannot start.</source>
        <translation>cloudflared ist nicht installiert, daher kann %1 nicht starten.</translation>
    </message>
    <message>
        <source>%1 failed to start.</source>
        <translation>%1 konnte nicht starten.</translation>
    </message>
    <message>
        <source>The name is empty.</source>
        <translation>Der Name ist leer.</translation>
    </message>
    <message>
        <source>%1 failed to start: %2</source>
        <translation>%1 konnte nicht starten: %2</translation>
    </message>
</context>
<context>
    <name>ControlCommand</name>
    <message>
        <source>Print every tunnel: id, port, state, name, URL and problem.</source>
        <translation>Gibt alle Tunnel aus: ID, Port, Zustand, Name, URL und Problem.</translation>
    </message>
    <message>
        <source>Start a tunnel.</source>
        <translation>Startet einen Tunnel.</translation>
    </message>
    <message>
        <source>Stop a tunnel, or every tunnel.</source>
        <translation>Stoppt einen Tunnel oder alle Tunnel.</translation>
    </message>
    <message>
        <source>Print the public URL of an active tunnel; with --wait, wait for it to become active.</source>
        <translation>Gibt die öffentliche URL eines aktiven Tunnels aus; mit --wait wird gewartet, bis er aktiv ist.</translation>
    </message>
    <message>
        <source>Add a tunnel for a local port; it is saved at once.</source>
        <translation>Fügt einen Tunnel für einen lokalen Port hinzu; er wird sofort gespeichert.</translation>
    </message>
    <message>
        <source>Remove a tunnel, stopping it first.</source>
        <translation>Entfernt einen Tunnel und stoppt ihn vorher.</translation>
    </message>
    <message>
        <source>Start the tunnel on a port (added when there is none), wait until it is active and print its URL.</source>
        <translation>Startet den Tunnel auf einem Port (legt ihn an, wenn es keinen gibt), wartet, bis er aktiv ist, und gibt seine URL aus.</translation>
    </message>
    <message>
        <source>Print this help and exit.</source>
        <translation>Zeigt diese Hilfe an und beendet sich.</translation>
    </message>
    <message>
        <source>Print one JSON document (fields: see quillby(1)).</source>
        <translation>Gibt ein JSON-Dokument aus (Felder: siehe quillby(1)).</translation>
    </message>
    <message>
        <source>Every tunnel.</source>
        <translation>Alle Tunnel.</translation>
    </message>
    <message>
        <source>Wait up to SECONDS for the tunnel to become active (default 60).</source>
        <translation>Wartet bis zu SECONDS Sekunden, bis der Tunnel aktiv ist (Vorgabe 60).</translation>
    </message>
    <message>
        <source>Wait up to SECONDS for the tunnel to become active (default: do not wait).</source>
        <translation>Wartet bis zu SECONDS Sekunden, bis der Tunnel aktiv ist (Vorgabe: nicht warten).</translation>
    </message>
    <message>
        <source>The local port, 1 to 65535.</source>
        <translation>Der lokale Port, 1 bis 65535.</translation>
    </message>
    <message>
        <source>The tunnel&apos;s name (default &quot;Tunnel&quot;).</source>
        <translation>Der Name des Tunnels (Vorgabe „Tunnel“).</translation>
    </message>
    <message>
        <source>Start it at once.</source>
        <translation>Startet ihn sofort.</translation>
    </message>
    <message>
        <source>[options]</source>
        <translation>[Optionen]</translation>
    </message>
    <message>
        <source>The command.</source>
        <translation>Der Befehl.</translation>
    </message>
    <message>
        <source>A tunnel&apos;s name, port or id (or the id&apos;s first 8 or more characters).</source>
        <translation>Name, Port oder ID eines Tunnels (oder die ersten 8 oder mehr Zeichen der ID).</translation>
    </message>
    <message>
        <source>Try &apos;quillby %1 --help&apos;.</source>
        <translation>Siehe „quillby %1 --help“.</translation>
    </message>
    <message>
        <source>--port needs a port from 1 to 65535.</source>
        <translation>--port braucht einen Port von 1 bis 65535.</translation>
    </message>
    <message>
        <source>PORT must be a port from 1 to 65535.</source>
        <translation>PORT muss ein Port von 1 bis 65535 sein.</translation>
    </message>
    <message>
        <source>unexpected argument &apos;%1&apos;.</source>
        <translation>unerwartetes Argument „%1“.</translation>
    </message>
    <message>
        <source>which tunnel? Name it by its name, port or id.</source>
        <translation>Welcher Tunnel? Geben Sie seinen Namen, Port oder seine ID an.</translation>
    </message>
    <message>
        <source>--wait needs a number of seconds.</source>
        <translation>--wait braucht eine Anzahl Sekunden.</translation>
    </message>
    <message>
        <source>quillby: Quillby is not running.</source>
        <translation>quillby: Quillby läuft nicht.</translation>
    </message>
    <message>
        <source>quillby: Quillby did not answer.</source>
        <translation>quillby: Quillby hat nicht geantwortet.</translation>
    </message>
    <message>
        <source>every tunnel and its state</source>
        <translation>alle Tunnel und ihr Zustand</translation>
    </message>
    <message>
        <source>start or stop tunnels</source>
        <translation>Tunnel starten oder stoppen</translation>
    </message>
    <message>
        <source>the public URL of an active tunnel</source>
        <translation>die öffentliche URL eines aktiven Tunnels</translation>
    </message>
    <message>
        <source>start a tunnel on PORT and print its URL</source>
        <translation>einen Tunnel auf PORT starten, seine URL ausgeben</translation>
    </message>
    <message>
        <source>quillby: to stay within %1 MiB, %2 older requests were left out and %3 bodies cut.</source>
        <translation>quillby: Um unter %1 MiB zu bleiben, wurden %2 ältere Anfragen ausgelassen und %3 Inhalte gekürzt.</translation>
    </message>
    <message>
        <source>no response</source>
        <translation>keine Antwort</translation>
    </message>
    <message>
        <source>which request? Give its id, as quillby requests prints it.</source>
        <translation>Welche Anfrage? Geben Sie ihre ID an, wie quillby requests sie ausgibt.</translation>
    </message>
    <message>
        <source>--%1 takes on or off.</source>
        <translation>--%1 nimmt on oder off.</translation>
    </message>
    <message>
        <source>--for needs a duration such as 90s, 30m, 2h or 1h30m, or off.</source>
        <translation>--for braucht eine Dauer wie 90s, 30m, 2h oder 1h30m, oder off.</translation>
    </message>
    <message>
        <source>--json and --har do not go together.</source>
        <translation>--json und --har gehen nicht zusammen.</translation>
    </message>
    <message>
        <source>--limit needs a whole number from 1.</source>
        <translation>--limit braucht eine ganze Zahl ab 1.</translation>
    </message>
    <message>
        <source>REQUEST_ID must be a request&apos;s id, as quillby requests prints it.</source>
        <translation>REQUEST_ID muss die ID einer Anfrage sein, wie quillby requests sie ausgibt.</translation>
    </message>
    <message>
        <source>Show the local server its own host name, localhost:PORT (on or off).</source>
        <translation>Zeigt dem lokalen Server seinen eigenen Hostnamen, localhost:PORT (on oder off).</translation>
    </message>
    <message>
        <source>Record the requests through the tunnel (on or off).</source>
        <translation>Zeichnet die Anfragen durch den Tunnel auf (on oder off).</translation>
    </message>
    <message>
        <source>Ask visitors for a password, a new one at every start (on or off).</source>
        <translation>Fragt Besucher nach einem Passwort, einem neuen bei jedem Start (on oder off).</translation>
    </message>
    <message>
        <source>Stop the tunnel by itself after DURATION, such as 90s, 30m, 2h or 1h30m; off: until stopped.</source>
        <translation>Stoppt den Tunnel von selbst nach DURATION, etwa 90s, 30m, 2h oder 1h30m; off: bis er gestoppt wird.</translation>
    </message>
    <message>
        <source>Print the URL with the user name and the password in it, when the tunnel asks for a password.</source>
        <translation>Gibt die URL mit Benutzername und Passwort darin aus, wenn der Tunnel nach einem Passwort fragt.</translation>
    </message>
    <message>
        <source>Keep running: print the URL each time the tunnel becomes active, until it is removed.</source>
        <translation>Läuft weiter: Gibt die URL jedes Mal aus, wenn der Tunnel aktiv wird, bis er entfernt wird.</translation>
    </message>
    <message>
        <source>Print an HTTP Archive (HAR 1.2) document.</source>
        <translation>Gibt ein HTTP-Archiv (HAR 1.2) aus.</translation>
    </message>
    <message>
        <source>Only the newest N.</source>
        <translation>Nur die neuesten N.</translation>
    </message>
    <message>
        <source>A request&apos;s id, as quillby requests prints it.</source>
        <translation>Die ID einer Anfrage, wie quillby requests sie ausgibt.</translation>
    </message>
    <message>
        <source>Stop it by itself after DURATION, such as 90s, 30m, 2h or 1h30m.</source>
        <translation>Stoppt ihn von selbst nach DURATION, etwa 90s, 30m, 2h oder 1h30m.</translation>
    </message>
    <message>
        <source>Turn the tunnel&apos;s password on and print the URL with the user name and the password in it.</source>
        <translation>Schaltet das Passwort des Tunnels ein und gibt die URL mit Benutzername und Passwort darin aus.</translation>
    </message>
    <message>
        <source>Change a tunnel&apos;s name, port or switches, as the window does; a running tunnel keeps its URL, and the change is saved at once.</source>
        <translation>Ändert Namen, Port oder Schalter eines Tunnels wie das Fenster; ein laufender Tunnel behält seine URL, und die Änderung wird sofort gespeichert.</translation>
    </message>
    <message>
        <source>change a tunnel</source>
        <translation>einen Tunnel ändern</translation>
    </message>
    <message>
        <source>The tunnel&apos;s new name.</source>
        <translation>Der neue Name des Tunnels.</translation>
    </message>
    <message>
        <source>Print the requests recorded through a tunnel, oldest first: id, time, method, path, status, duration and sizes.</source>
        <translation>Gibt die durch einen Tunnel aufgezeichneten Anfragen aus, älteste zuerst: ID, Zeit, Methode, Pfad, Status, Dauer und Größen.</translation>
    </message>
    <message>
        <source>the requests recorded, or one sent again</source>
        <translation>die aufgezeichneten Anfragen, oder eine erneut gesendet</translation>
    </message>
    <message>
        <source>Send a recorded request to the local server again and print the new entry&apos;s status line and id.</source>
        <translation>Sendet eine aufgezeichnete Anfrage erneut an den lokalen Server und gibt Statuszeile und ID des neuen Eintrags aus.</translation>
    </message>
    <message>
        <source>Open this page to sign in: %1</source>
        <translation>Öffnen Sie diese Seite, um sich anzumelden: %1</translation>
    </message>
    <message>
        <source>Signed in</source>
        <translation>Angemeldet</translation>
    </message>
    <message>
        <source>Its address on your own domain, such as dev.example.com, kept across restarts (sign in first with quillby login); quick: a new random address at every start.</source>
        <translation>Seine Adresse auf Ihrer eigenen Domain, etwa dev.example.com, die über Neustarts hinweg bleibt (melden Sie sich zuerst mit quillby login an); quick: bei jedem Start eine neue zufällige Adresse.</translation>
    </message>
    <message>
        <source>Also delete its named tunnel from your account, and its credentials.</source>
        <translation>Auch seinen benannten Tunnel aus Ihrem Konto löschen, samt seinen Zugangsdaten.</translation>
    </message>
    <message>
        <source>Sign in to your account with the tunnel service, once, for tunnels on your own domain: prints the page to open and waits until the browser is done.</source>
        <translation>Einmalig bei Ihrem Konto beim Tunneldienst anmelden, für Tunnel auf Ihrer eigenen Domain: gibt die zu öffnende Seite aus und wartet, bis der Browser fertig ist.</translation>
    </message>
    <message>
        <source>sign in for tunnels on your own domain</source>
        <translation>für Tunnel auf Ihrer eigenen Domain anmelden</translation>
    </message>
    <message>
        <source>Wait up to SECONDS for the browser (default 600).</source>
        <translation>Bis zu SECONDS Sekunden auf den Browser warten (Standard 600).</translation>
    </message>
    <message>
        <source>Sign in anew even though a certificate is there, such as for another domain; the old one is kept beside it as cert.pem.old.</source>
        <translation>Neu anmelden, obwohl ein Zertifikat da ist, etwa für eine andere Domain; das alte bleibt daneben als cert.pem.old erhalten.</translation>
    </message>
</context>
<context>
    <name>CurlCommand</name>
    <message>
        <source># The body was cut at %1 bytes when captured; this sends the part that was kept.</source>
        <translation># Der Inhalt wurde beim Mitschneiden nach %1 Bytes abgeschnitten; gesendet wird der aufbewahrte Teil.</translation>
    </message>
</context>
<context>
    <name>ExchangeText</name>
    <message>
        <source>%1 of binary data</source>
        <translation>%1 Binärdaten</translation>
    </message>
    <message>
        <source>(%1 of %2 kept; the rest was forwarded, not kept)</source>
        <translation>(%1 von %2 aufbewahrt; der Rest wurde weitergeleitet, aber nicht aufbewahrt)</translation>
    </message>
    <message>
        <source>Nothing listened on the server&apos;s port.</source>
        <translation>Am Port des Servers lauschte nichts.</translation>
    </message>
    <message>
        <source>No answer came back.</source>
        <translation>Es kam keine Antwort zurück.</translation>
    </message>
    <message>
        <source>No answer after %1 ms</source>
        <translation>Keine Antwort nach %1 ms</translation>
    </message>
    <message>
        <source>First byte after %1 ms, complete after %2 ms</source>
        <translation>Erstes Byte nach %1 ms, vollständig nach %2 ms</translation>
    </message>
    <message>
        <source>Not valid JSON: %1 at %2</source>
        <translation>Kein gültiges JSON: %1 bei %2</translation>
    </message>
    <message>
        <source>line %1, column %2</source>
        <translation>Zeile %1, Spalte %2</translation>
    </message>
    <message>
        <source>Not well-formed XML: %1 at line %2, column %3</source>
        <translation>Kein wohlgeformtes XML: %1 in Zeile %2, Spalte %3</translation>
    </message>
</context>
<context>
    <name>MessageListModel</name>
    <message>
        <source>Compressed, and it does not inflate</source>
        <translation>Komprimiert, lässt sich aber nicht entpacken</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Close %1 %2</source>
        <translation>Schließen %1 %2</translation>
    </message>
    <message>
        <source>Ping</source>
        <translation>Ping</translation>
    </message>
    <message>
        <source>Pong</source>
        <translation>Pong</translation>
    </message>
    <message>
        <source>Binary: %1</source>
        <translation>Binär: %1</translation>
    </message>
    <message>
        <source>To the local server</source>
        <translation>Zum lokalen Server</translation>
    </message>
    <message>
        <source>To the visitor</source>
        <translation>Zum Besucher</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Data</source>
        <translation>Daten</translation>
    </message>
</context>
<context>
    <name>PortScannerSection</name>
    <message>
        <source>Scan Local Ports</source>
        <translation>Lokale Ports durchsuchen</translation>
    </message>
    <message>
        <source>Hide the scanner</source>
        <translation>Portsuche ausblenden</translation>
    </message>
    <message>
        <source>Show the scanner</source>
        <translation>Portsuche einblenden</translation>
    </message>
</context>
<context>
    <name>PortScannerView</name>
    <message>
        <source>Active Local Ports</source>
        <translation>Aktive lokale Ports</translation>
    </message>
    <message>
        <source>Scan ports</source>
        <translation>Ports durchsuchen</translation>
    </message>
    <message>
        <source>No open ports found</source>
        <translation>Keine offenen Ports gefunden</translation>
    </message>
    <message>
        <source>Click refresh to scan ports</source>
        <translation>Zum Durchsuchen auf Aktualisieren klicken</translation>
    </message>
    <message>
        <source>+ Tunnel</source>
        <translation>+ Tunnel</translation>
    </message>
    <message>
        <source>Add a tunnel for port %1</source>
        <translation>Tunnel für Port %1 hinzufügen</translation>
    </message>
</context>
<context>
    <name>ProblemBoard</name>
    <message>
        <source>Port %1 is outside 1 to 65535; enter another to start</source>
        <translation>Port %1 liegt nicht zwischen 1 und 65535; geben Sie zum Starten einen anderen ein</translation>
    </message>
    <message>
        <source>cloudflared %1 is too old for quick tunnels; update it to %2 or newer</source>
        <translation>cloudflared %1 ist zu alt für Quick Tunnels; aktualisieren Sie es auf %2 oder neuer</translation>
    </message>
    <message>
        <source>Cannot start: the gateway cannot listen (%1)</source>
        <translation>Start nicht möglich: Das Gateway kann nicht lauschen (%1)</translation>
    </message>
    <message>
        <source>Nothing accepts connections on 127.0.0.1:%1 or [::1]:%1</source>
        <translation>Weder 127.0.0.1:%1 noch [::1]:%1 nimmt Verbindungen an</translation>
    </message>
    <message>
        <source>A request through the tunnel found nothing listening on port %1 on this computer</source>
        <translation>Eine Anfrage durch den Tunnel traf auf diesem Computer an Port %1 auf keinen lauschenden Dienst</translation>
    </message>
    <message>
        <source>No internet connection: the tunnel service cannot be reached</source>
        <translation>Keine Internetverbindung: Der Tunneldienst ist nicht erreichbar</translation>
    </message>
    <message>
        <source>The tunnel service is limiting new tunnels; try again in a few minutes</source>
        <translation>Der Tunneldienst begrenzt neue Tunnel; versuchen Sie es in einigen Minuten erneut</translation>
    </message>
    <message>
        <source>The tunnel service failed to create the tunnel; try again in a few minutes</source>
        <translation>Der Tunneldienst konnte den Tunnel nicht anlegen; versuchen Sie es in einigen Minuten erneut</translation>
    </message>
    <message>
        <source>The tunnel service failed (HTTP %1)</source>
        <translation>Der Tunneldienst meldet einen Fehler (HTTP %1)</translation>
    </message>
    <message>
        <source>The tunnel service refused the tunnel: %1</source>
        <translation>Der Tunneldienst hat den Tunnel abgelehnt: %1</translation>
    </message>
    <message>
        <source>The tunnel network cannot be looked up (DNS)</source>
        <translation>Das Tunnelnetz lässt sich nicht auflösen (DNS)</translation>
    </message>
    <message>
        <source>The tunnel network cannot be reached; outgoing UDP/TCP port 7844 may be blocked</source>
        <translation>Das Tunnelnetz ist nicht erreichbar; ausgehender UDP/TCP-Port 7844 ist vielleicht gesperrt</translation>
    </message>
    <message>
        <source>The tunnel could not connect to the tunnel network</source>
        <translation>Der Tunnel konnte keine Verbindung zum Tunnelnetz aufbauen</translation>
    </message>
    <message>
        <source>cloudflared updated itself to version %1 and stopped; start the tunnel again</source>
        <translation>cloudflared hat sich selbst auf Version %1 aktualisiert und beendet; starten Sie den Tunnel erneut</translation>
    </message>
    <message>
        <source>Nothing answers on port %1</source>
        <translation>Auf Port %1 antwortet nichts</translation>
    </message>
    <message>
        <source>The server on port %1 accepts connections but does not answer</source>
        <translation>Der Server auf Port %1 nimmt Verbindungen an, antwortet aber nicht</translation>
    </message>
    <message>
        <source>The server on port %1 closes connections without answering</source>
        <translation>Der Server auf Port %1 schließt Verbindungen, ohne zu antworten</translation>
    </message>
    <message>
        <source>The local server&apos;s host name cannot be looked up (port %1)</source>
        <translation>Der Hostname des lokalen Servers lässt sich nicht auflösen (Port %1)</translation>
    </message>
    <message>
        <source>Requests to the server on port %1 fail</source>
        <translation>Anfragen an den Server auf Port %1 schlagen fehl</translation>
    </message>
    <message>
        <source>%1 waited over 100 s for its first byte; the visitor got error 524</source>
        <translation>%1 wartete über 100 s auf das erste Byte; der Besucher bekam Fehler 524</translation>
    </message>
    <message>
        <source>200 requests are in flight at once, a quick tunnel&apos;s limit; more get error 429</source>
        <translation>200 Anfragen sind gleichzeitig unterwegs, die Grenze eines Quick Tunnels; weitere bekommen Fehler 429</translation>
    </message>
    <message>
        <source>The server on port %1 streams server-sent events, which a quick tunnel&apos;s edge holds back until each stream ends; a tunnel on your own domain streams them</source>
        <translation>Der Server auf Port %1 sendet Server-Sent Events, die ein Quick Tunnel erst am Ende jedes Streams weitergibt; ein Tunnel auf Ihrer eigenen Domain überträgt sie sofort</translation>
    </message>
</context>
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Displays version information.</source>
        <translation>Zeigt Versionsinformationen an.</translation>
    </message>
</context>
<context>
    <name>QrCodePanel</name>
    <message>
        <source>QR Code</source>
        <translation>QR-Code</translation>
    </message>
    <message>
        <source>Copy URL</source>
        <translation>URL kopieren</translation>
    </message>
    <message>
        <source>Open in Browser</source>
        <translation>Im Browser öffnen</translation>
    </message>
    <message>
        <source>Connecting...</source>
        <translation>Wird verbunden …</translation>
    </message>
    <message>
        <source>User:</source>
        <translation>Benutzer:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Copy Password</source>
        <translation>Passwort kopieren</translation>
    </message>
</context>
<context>
    <name>QuillbyApp</name>
    <message>
        <source>Quillby</source>
        <translation>Quillby</translation>
    </message>
    <message>
        <source>Show Tunnels</source>
        <translation>Tunnel anzeigen</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
</context>
<context>
    <name>RefusalText</name>
    <message>
        <source>%1 refuses the tunnel&apos;s address; turn on Open as localhost</source>
        <translation>%1 lehnt die Adresse des Tunnels ab; schalten Sie „Als localhost öffnen“ ein</translation>
    </message>
    <message>
        <source>%1 refuses the tunnel&apos;s requests; allow them in its %2</source>
        <translation>%1 lehnt die Anfragen des Tunnels ab; erlauben Sie sie in %2</translation>
    </message>
    <message>
        <source>%1&apos;s host check refused a request naming the public address. Open as localhost (in the row&apos;s ⋯ menu, or: quillby set &quot;%2&quot; --rewrite-host on) makes it see localhost:%3.</source>
        <translation>Die Host-Prüfung von %1 hat eine Anfrage mit der öffentlichen Adresse abgelehnt. „Als localhost öffnen“ (im Menü ⋯ der Zeile oder: quillby set &quot;%2&quot; --rewrite-host on) lässt es localhost:%3 sehen.</translation>
    </message>
    <message>
        <source>%1&apos;s host check refused a request even as localhost:%2. Add the tunnel&apos;s address to %3 in its configuration.</source>
        <translation>Die Host-Prüfung von %1 hat eine Anfrage sogar als localhost:%2 abgelehnt. Tragen Sie die Adresse des Tunnels in seiner Konfiguration unter %3 ein.</translation>
    </message>
</context>
<context>
    <name>RemoveHandler</name>
    <message>
        <source>Its named tunnel stays in your account, and its credentials in %1.</source>
        <translation>Sein benannter Tunnel bleibt in Ihrem Konto und seine Zugangsdaten in %1.</translation>
    </message>
    <message>
        <source>%1 is removed, but its named tunnel is still in your account: %2</source>
        <translation>%1 ist entfernt, aber sein benannter Tunnel ist noch in Ihrem Konto: %2</translation>
    </message>
</context>
<context>
    <name>ReplayHandler</name>
    <message>
        <source>%1 has no request %2 in its log.</source>
        <translation>%1 hat keine Anfrage %2 in seinem Protokoll.</translation>
    </message>
    <message>
        <source>%1 does not inspect requests.</source>
        <translation>%1 zeichnet keine Anfragen auf.</translation>
    </message>
    <message>
        <source>The request sent again through %1 was not answered in time.</source>
        <translation>Die erneut durch %1 gesendete Anfrage wurde nicht rechtzeitig beantwortet.</translation>
    </message>
</context>
<context>
    <name>RequestDetailPane</name>
    <message>
        <source>Selected request</source>
        <translation>Ausgewählte Anfrage</translation>
    </message>
    <message>
        <source>Request</source>
        <translation>Anfrage</translation>
    </message>
    <message>
        <source>Response</source>
        <translation>Antwort</translation>
    </message>
    <message>
        <source>&amp;Request</source>
        <translation>&amp;Anfrage</translation>
    </message>
    <message>
        <source>Re&amp;sponse</source>
        <translation>Ant&amp;wort</translation>
    </message>
    <message>
        <source>&amp;Messages</source>
        <translation>&amp;Nachrichten</translation>
    </message>
    <message>
        <source>&amp;Messages (%1)</source>
        <translation>&amp;Nachrichten (%1)</translation>
    </message>
</context>
<context>
    <name>RequestEditorDialog</name>
    <message>
        <source>Edit and Replay</source>
        <translation>Bearbeiten und erneut senden</translation>
    </message>
    <message>
        <source>%1 of binary data, sent unchanged</source>
        <translation>%1 Binärdaten, unverändert gesendet</translation>
    </message>
    <message>
        <source>Only the first %1 of the body was kept; that part is sent.</source>
        <translation>Nur die ersten %1 des Inhalts wurden aufbewahrt; dieser Teil wird gesendet.</translation>
    </message>
    <message>
        <source>&amp;Method:</source>
        <translation>&amp;Methode:</translation>
    </message>
    <message>
        <source>&amp;Path:</source>
        <translation>&amp;Pfad:</translation>
    </message>
    <message>
        <source>&amp;Headers:</source>
        <translation>&amp;Kopfzeilen:</translation>
    </message>
    <message>
        <source>&amp;Body:</source>
        <translation>&amp;Inhalt:</translation>
    </message>
    <message>
        <source>&amp;Send</source>
        <translation>&amp;Senden</translation>
    </message>
</context>
<context>
    <name>RequestListPane</name>
    <message>
        <source>Filter by method, path, status, header or body</source>
        <translation>Nach Methode, Pfad, Status, Kopfzeile oder Inhalt filtern</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>%1xx</source>
        <translation>%1xx</translation>
    </message>
    <message>
        <source>Show only answers with status %1xx</source>
        <translation>Nur Antworten mit Status %1xx zeigen</translation>
    </message>
    <message>
        <source>Requests, newest first</source>
        <translation>Anfragen, neueste zuerst</translation>
    </message>
    <message>
        <source>No requests yet. Requests that reach the tunnel&apos;s public URL appear here.</source>
        <translation>Noch keine Anfragen. Anfragen an die öffentliche URL des Tunnels erscheinen hier.</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>%1 of %2 requests shown</source>
        <translation>%1 von %2 Anfragen gezeigt</translation>
    </message>
    <message numerus="yes">
        <source>Older requests leave the list to keep it within %1 and %2 requests; %n so far.</source>
        <translation>
            <numerusform>Ältere Anfragen verlassen die Liste, damit sie unter %1 und %2 Anfragen bleibt; bisher %n.</numerusform>
            <numerusform>Ältere Anfragen verlassen die Liste, damit sie unter %1 und %2 Anfragen bleibt; bisher %n.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>RequestLog</name>
    <message>
        <source>%1 (replay)</source>
        <translation>%1 (erneut gesendet)</translation>
    </message>
    <message>
        <source>%1 refused</source>
        <translation>%1 abgewiesen</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>abgewiesen</translation>
    </message>
    <message>
        <source>none</source>
        <translation>keine</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Method</source>
        <translation>Methode</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Pfad</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Dauer</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>%1 (edited)</source>
        <translation>%1 (bearbeitet)</translation>
    </message>
</context>
<context>
    <name>RequestMessagesPane</name>
    <message>
        <source>WebSocket messages, oldest first</source>
        <translation>WebSocket-Nachrichten, älteste zuerst</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Nachricht</translation>
    </message>
    <message>
        <source>Select a message to see it in full.</source>
        <translation>Wählen Sie eine Nachricht, um sie ganz zu sehen.</translation>
    </message>
    <message>
        <source>No messages yet. They appear here as they pass.</source>
        <translation>Noch keine Nachrichten. Sie erscheinen hier, sobald sie durchkommen.</translation>
    </message>
</context>
<context>
    <name>RequestsWindow</name>
    <message>
        <source>Re&amp;play</source>
        <translation>&amp;Erneut senden</translation>
    </message>
    <message>
        <source>Send the selected request to the local server again (%1)</source>
        <translation>Die ausgewählte Anfrage erneut an den lokalen Server senden (%1)</translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation>&amp;Leeren</translation>
    </message>
    <message>
        <source>Forget every request shown here</source>
        <translation>Alle hier gezeigten Anfragen vergessen</translation>
    </message>
    <message>
        <source>Requests to %1</source>
        <translation>Anfragen an %1</translation>
    </message>
    <message>
        <source>&amp;Edit and Replay…</source>
        <translation>&amp;Bearbeiten und senden…</translation>
    </message>
    <message>
        <source>Change a copy of the selected request, then send it (%1)</source>
        <translation>Eine Kopie der ausgewählten Anfrage ändern und dann senden (%1)</translation>
    </message>
    <message>
        <source>Copy as c&amp;url</source>
        <translation>Als c&amp;url kopieren</translation>
    </message>
    <message>
        <source>Copy a shell command that sends the selected request to the public URL again</source>
        <translation>Einen Shell-Befehl kopieren, der die ausgewählte Anfrage erneut an die öffentliche URL sendet</translation>
    </message>
    <message>
        <source>Save as &amp;HAR</source>
        <translation>Als &amp;HAR speichern</translation>
    </message>
    <message>
        <source>All Requests Shown…</source>
        <translation>Alle gezeigten Anfragen…</translation>
    </message>
    <message>
        <source>Selected Requests…</source>
        <translation>Ausgewählte Anfragen…</translation>
    </message>
    <message>
        <source>Save as HAR</source>
        <translation>Als HAR speichern</translation>
    </message>
    <message>
        <source>The requests could not be saved: %1</source>
        <translation>Die Anfragen konnten nicht gespeichert werden: %1</translation>
    </message>
    <message>
        <source>HTTP Archive (*.har)</source>
        <translation>HTTP-Archiv (*.har)</translation>
    </message>
    <message>
        <source>Copied</source>
        <translation>Kopiert</translation>
    </message>
</context>
<context>
    <name>Session</name>
    <message>
        <source>quillby: another instance holds the lock but does not answer</source>
        <translation>quillby: Eine andere Instanz hält die Sperre, antwortet aber nicht</translation>
    </message>
</context>
<context>
    <name>SetHandler</name>
    <message>
        <source>%1 is not running; a time limit needs a running tunnel.</source>
        <translation>%1 läuft nicht; ein Zeitlimit braucht einen laufenden Tunnel.</translation>
    </message>
    <message>
        <source>Nothing to change: give --name, --port, --rewrite-host, --inspect, --password, --for or --hostname.</source>
        <translation>Nichts zu ändern: geben Sie --name, --port, --rewrite-host, --inspect, --password, --for oder --hostname an.</translation>
    </message>
</context>
<context>
    <name>ShareDuration</name>
    <message>
        <source>1 second</source>
        <translation>1 Sekunde</translation>
    </message>
    <message>
        <source>%1 seconds</source>
        <translation>%1 Sekunden</translation>
    </message>
    <message>
        <source>1 hour</source>
        <translation>1 Stunde</translation>
    </message>
    <message>
        <source>%1 hours</source>
        <translation>%1 Stunden</translation>
    </message>
    <message>
        <source>1 minute</source>
        <translation>1 Minute</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 Minuten</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 Min.</translation>
    </message>
    <message>
        <source>%1 h</source>
        <translation>%1 Std.</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 Std. %2 Min.</translation>
    </message>
</context>
<context>
    <name>StatusMenuView</name>
    <message>
        <source>Tunnels</source>
        <translation>Tunnel</translation>
    </message>
    <message>
        <source>Add tunnel</source>
        <translation>Tunnel hinzufügen</translation>
    </message>
    <message>
        <source>Launch at Login</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message numerus="yes">
        <source>%n active</source>
        <translation>
            <numerusform>%n aktiv</numerusform>
            <numerusform>%n aktiv</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>StatusWindow</name>
    <message>
        <source>Quillby</source>
        <translation>Quillby</translation>
    </message>
    <message>
        <source>No system tray was found, so Quillby shows its window here. Closing it leaves your tunnels running; start Quillby again to bring it back.</source>
        <translation>Es wurde kein Infobereich gefunden, daher zeigt Quillby sein Fenster hier. Wenn Sie es schließen, laufen Ihre Tunnel weiter; starten Sie Quillby erneut, um es zurückzuholen.</translation>
    </message>
</context>
<context>
    <name>TrayToolTip</name>
    <message>
        <source>Quillby</source>
        <translation>Quillby</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Connecting...</source>
        <translation>Wird verbunden …</translation>
    </message>
    <message>
        <source>Reconnecting...</source>
        <translation>Verbindet neu …</translation>
    </message>
    <message>
        <source>No tunnel running</source>
        <translation>Kein Tunnel läuft</translation>
    </message>
    <message>
        <source>%1: %2 (password)</source>
        <translation>%1: %2 (Passwort)</translation>
    </message>
    <message numerus="yes">
        <source>%n request(s), the last at %1</source>
        <translation>
            <numerusform>%n Anfrage, die letzte um %1</numerusform>
            <numerusform>%n Anfragen, die letzte um %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n connection(s) up</source>
        <translation>
            <numerusform>%n Verbindung steht</numerusform>
            <numerusform>%n Verbindungen stehen</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TunnelInstance</name>
    <message>
        <source>Creating the tunnel…</source>
        <translation>Tunnel wird erstellt …</translation>
    </message>
    <message>
        <source>Pointing %1 at it…</source>
        <translation>%1 wird auf ihn gerichtet …</translation>
    </message>
    <message>
        <source>Deleting the tunnel whose credentials are gone…</source>
        <translation>Tunnel ohne Zugangsdaten wird gelöscht …</translation>
    </message>
</context>
<context>
    <name>TunnelListView</name>
    <message>
        <source>No tunnels configured</source>
        <translation>Keine Tunnel eingerichtet</translation>
    </message>
    <message>
        <source>Tap + to add one</source>
        <translation>Mit + fügen Sie einen hinzu</translation>
    </message>
    <message>
        <source>Remove %1?</source>
        <translation>%1 entfernen?</translation>
    </message>
    <message>
        <source>%1 points at a tunnel in your account. Delete that tunnel from the account too? Kept, it stays there with its credentials, and the name keeps pointing at it.</source>
        <translation>%1 zeigt auf einen Tunnel in Ihrem Konto. Diesen Tunnel auch aus dem Konto löschen? Behalten, bleibt er dort mit seinen Zugangsdaten, und der Name zeigt weiter auf ihn.</translation>
    </message>
    <message>
        <source>Delete from Account</source>
        <translation>Aus dem Konto löschen</translation>
    </message>
    <message>
        <source>Keep in Account</source>
        <translation>Im Konto behalten</translation>
    </message>
</context>
<context>
    <name>TunnelName</name>
    <message>
        <source>Tunnel</source>
        <translation>Tunnel</translation>
    </message>
    <message>
        <source>Port %1</source>
        <translation>Port %1</translation>
    </message>
</context>
<context>
    <name>TunnelNotifications</name>
    <message>
        <source>&apos;%1&apos; Error</source>
        <translation>Fehler bei „%1“</translation>
    </message>
    <message>
        <source>Failed to start: %1</source>
        <translation>Start fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>&apos;%1&apos; Active</source>
        <translation>„%1“ ist aktiv</translation>
    </message>
    <message>
        <source>&apos;%1&apos; Stopped</source>
        <translation>„%1“ wurde beendet</translation>
    </message>
    <message>
        <source>Tunnel crashed (exit code: %1)</source>
        <translation>Tunnel abgestürzt (Exit-Code: %1)</translation>
    </message>
    <message>
        <source>&apos;%1&apos; Reconnecting</source>
        <translation>„%1“ verbindet sich neu</translation>
    </message>
    <message>
        <source>Lost its connection to the tunnel network; still trying</source>
        <translation>Verbindung zum Tunnelnetz verloren; neuer Versuch läuft</translation>
    </message>
    <message>
        <source>Open in Browser</source>
        <translation>Im Browser öffnen</translation>
    </message>
    <message>
        <source>Copy URL</source>
        <translation>URL kopieren</translation>
    </message>
    <message>
        <source>Shared for %1, as asked</source>
        <translation>Wie gewünscht %1 lang geteilt</translation>
    </message>
    <message>
        <source>&apos;%1&apos; Still in Your Account</source>
        <translation>„%1“ ist noch in Ihrem Konto</translation>
    </message>
    <message>
        <source>Its named tunnel could not be deleted from your account: %1
Its credentials file is kept.</source>
        <translation>Sein benannter Tunnel konnte nicht aus Ihrem Konto gelöscht werden: %1
Seine Zugangsdatei bleibt erhalten.</translation>
    </message>
</context>
<context>
    <name>TunnelRowView</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>:</source>
        <translation>:</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Connecting...</source>
        <translation>Wird verbunden …</translation>
    </message>
    <message>
        <source>Copy URL</source>
        <translation>URL kopieren</translation>
    </message>
    <message>
        <source>Delete tunnel</source>
        <translation>Tunnel löschen</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>Wird verbunden</translation>
    </message>
    <message>
        <source>Running</source>
        <translation>Läuft</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Gestoppt</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stoppen</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>Reconnecting</source>
        <translation>Verbindet neu</translation>
    </message>
    <message>
        <source>Reconnecting...</source>
        <translation>Verbindet neu …</translation>
    </message>
    <message>
        <source>Open in Browser</source>
        <translation>Im Browser öffnen</translation>
    </message>
    <message>
        <source>Show QR Code</source>
        <translation>QR-Code anzeigen</translation>
    </message>
    <message>
        <source>Inspect Requests</source>
        <translation>Anfragen untersuchen</translation>
    </message>
    <message>
        <source>See every request that comes through the tunnel</source>
        <translation>Jede Anfrage sehen, die durch den Tunnel kommt</translation>
    </message>
    <message>
        <source>Requests...</source>
        <translation>Anfragen …</translation>
    </message>
    <message>
        <source>Show requests</source>
        <translation>Anfragen anzeigen</translation>
    </message>
    <message>
        <source>Stops in %1</source>
        <translation>Stoppt in %1</translation>
    </message>
    <message>
        <source>Tunnel Options</source>
        <translation>Tunneloptionen</translation>
    </message>
    <message>
        <source>Open as localhost</source>
        <translation>Als localhost öffnen</translation>
    </message>
    <message>
        <source>The local server sees every request as opened at localhost, so that its host check lets the tunnel through</source>
        <translation>Der lokale Server sieht jede Anfrage, als wäre sie unter localhost geöffnet, damit seine Host-Prüfung den Tunnel durchlässt</translation>
    </message>
    <message>
        <source>Address...</source>
        <translation>Adresse …</translation>
    </message>
    <message>
        <source>A new quick address at each start, or one on your own domain</source>
        <translation>Bei jedem Start eine neue schnelle Adresse oder eine auf Ihrer eigenen Domain</translation>
    </message>
    <message>
        <source>Sign In...</source>
        <translation>Anmelden …</translation>
    </message>
    <message>
        <source>Take Over</source>
        <translation>Übernehmen</translation>
    </message>
    <message>
        <source>Create Again</source>
        <translation>Neu anlegen</translation>
    </message>
    <message>
        <source>Point the name at this tunnel instead of where it points now</source>
        <translation>Den Namen auf diesen Tunnel richten statt dorthin, wohin er jetzt zeigt</translation>
    </message>
    <message>
        <source>Delete the tunnel from your account and create it again with new credentials</source>
        <translation>Den Tunnel aus Ihrem Konto löschen und mit neuen Zugangsdaten neu anlegen</translation>
    </message>
</context>
<context>
    <name>TunnelShareMenu</name>
    <message>
        <source>Require Password</source>
        <translation>Passwort verlangen</translation>
    </message>
    <message>
        <source>Stop After</source>
        <translation>Stoppen nach</translation>
    </message>
    <message>
        <source>15 Minutes</source>
        <translation>15 Minuten</translation>
    </message>
    <message>
        <source>1 Hour</source>
        <translation>1 Stunde</translation>
    </message>
    <message>
        <source>4 Hours</source>
        <translation>4 Stunden</translation>
    </message>
    <message>
        <source>Until Stopped</source>
        <translation>Bis zum Stoppen</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Print the local ports that have a listener, and exit.</source>
        <translation>Gibt die lokalen Ports aus, an denen ein Dienst lauscht, und beendet sich.</translation>
    </message>
    <message>
        <source>Public HTTPS URLs for local ports, from the tray.

Commands for the running Quillby (each has --help):</source>
        <translation>Öffentliche HTTPS-Adressen für lokale Ports, aus dem Infobereich.

Befehle an das laufende Quillby (jeder hat --help):</translation>
    </message>
    <message>
        <source>TUNNEL is a name, a port or an id.</source>
        <translation>TUNNEL ist ein Name, ein Port oder eine ID.</translation>
    </message>
    <message>
        <source>cloudflared: not found</source>
        <translation>cloudflared: nicht gefunden</translation>
    </message>
    <message>
        <source>cloudflared: %1 (version %2)</source>
        <translation>cloudflared: %1 (Version %2)</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
</context>
</TS>
