#pragma once

#include <QString>
#include <QUuid>

// Where a named tunnel's secrets live. The account certificate stays where the client's login
// put it; each tunnel's credentials file lives in our own data folder, for the user's eyes only.
// Neither ever enters the settings file.
class AccountFiles {
public:
    // Where `cloudflared tunnel login` writes the certificate: ~/.cloudflared/cert.pem.
    static QString loginCertificatePath();
    // The certificate the client's account commands read: TUNNEL_ORIGIN_CERT when set, else the
    // first cert.pem in the client's own search folders, else loginCertificatePath().
    static QString certificatePath();
    // Whether the file at path is a certificate with an account token in it.
    static bool holdsCertificate(const QString& path);
    static bool signedIn() { return holdsCertificate(certificatePath()); }
    // Moves the file at loginCertificatePath() aside, beside it (cert.pem.old, then .old.2, ...;
    // its mode kept), since the client's login refuses to write over it; never deleted. The
    // name it has now; empty when there was none or it could not be moved.
    static QString setCertificateAside();
    // Moves it back, unless a file came in its place.
    static void putCertificateBack(const QString& aside);

    // $XDG_DATA_HOME/quillby/tunnels/<TUNNEL>.json; its folder made, owner only.
    static QString credentialsPath(const QUuid& tunnel);
    // The named tunnel the credentials file is for; null when it is missing or unreadable.
    static QUuid credentialsTunnelId(const QUuid& tunnel);
    // Owner read and write only (the client writes it read-only).
    static bool secureCredentials(const QUuid& tunnel);
    // True when no file is left.
    static bool removeCredentials(const QUuid& tunnel);
};
