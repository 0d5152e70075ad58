#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Signatures as Debian's minisign makes them: Ed25519, over the file itself (its legacy form)
// or over its BLAKE2b-512 hash (its default, "prehashed" form), with a trusted comment signed
// too. Checked with libsodium (verify_sodium.cpp); verify_none.cpp where this build has none.
namespace signature {

struct PublicKey
{
    QByteArray keyId; // 8 bytes
    QByteArray key;   // 32 bytes
    // As minisign prints it: upper-case hex.
    QString keyIdText() const;
};

// A key as base64 (a minisign .pub file's second line); none, with why, when it is not one.
std::optional<PublicKey> parsePublicKey(const QString &base64, QString *why);
// The keys a station trusts: minisign .pub files pasted together, or one key a line; lines
// starting with # or "untrusted comment:" are comments. None, with "FILE:LINE: why".
std::optional<QList<PublicKey>> readTrustedKeys(const QString &path, QString *why);

struct Signature
{
    bool prehashed = true;
    QByteArray keyId;     // 8 bytes
    QByteArray signature; // 64 bytes
    QString trustedComment;
    QByteArray globalSignature; // 64 bytes, over the signature and the trusted comment
    QString keyIdText() const;
};

// A .minisig file's four lines; none, with why.
std::optional<Signature> parseSignature(const QByteArray &text, QString *why);

// Whether this build can check signatures.
bool available();
// Whether `signature` is `key`'s, over `message` and its trusted comment; false with why.
bool verify(const QByteArray &message, const Signature &signature, const PublicKey &key,
            QString *why);

} // namespace signature
