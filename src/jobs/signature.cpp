#include "jobs/signature.h"

#include "core/files/filenames.h"

#include <QFile>
#include <QStringList>

namespace signature {

namespace {

QString idText(const QByteArray &keyId)
{
    // minisign prints the 8 bytes as one little-endian number, in upper-case hex.
    quint64 value = 0;
    for (qsizetype i = keyId.size() - 1; i >= 0; --i)
        value = value << 8 | quint8(keyId.at(i));
    return QString::number(value, 16).toUpper();
}

// Strict base64 of exactly `size` bytes; empty when it is not that.
QByteArray decoded(const QByteArray &text, int size)
{
    const auto result = QByteArray::fromBase64Encoding(
        text.trimmed(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    return result && result.decoded.size() == size ? result.decoded : QByteArray();
}

} // namespace

QString PublicKey::keyIdText() const
{
    return idText(keyId);
}

QString Signature::keyIdText() const
{
    return idText(keyId);
}

std::optional<PublicKey> parsePublicKey(const QString &base64, QString *why)
{
    const QByteArray bytes = decoded(base64.toLatin1(), 42);
    if (bytes.isEmpty() || !bytes.startsWith("Ed")) {
        *why = QStringLiteral("not a minisign public key");
        return std::nullopt;
    }
    return PublicKey{bytes.mid(2, 8), bytes.mid(10, 32)};
}

std::optional<QList<PublicKey>> readTrustedKeys(const QString &path, QString *why)
{
    const QString problem = files::readSourceProblem(QStringLiteral("trusted keys"), path);
    if (!problem.isEmpty()) {
        *why = problem;
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("%1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QList<PublicKey> keys;
    const QList<QByteArray> lines = file.read(1 << 20).split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith('#') || line.startsWith("untrusted comment:"))
            continue;
        QString reason;
        const std::optional<PublicKey> key = parsePublicKey(QString::fromLatin1(line), &reason);
        if (!key) {
            *why = QStringLiteral("%1:%2: %3").arg(path).arg(i + 1).arg(reason);
            return std::nullopt;
        }
        keys << *key;
    }
    if (keys.isEmpty()) {
        *why = QStringLiteral("%1 holds no key").arg(path);
        return std::nullopt;
    }
    return keys;
}

std::optional<Signature> parseSignature(const QByteArray &text, QString *why)
{
    auto refuse = [why](const QString &reason) {
        *why = reason;
        return std::nullopt;
    };
    if (text.size() > 64 * 1024)
        return refuse(QStringLiteral("larger than a signature can be"));
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() != 4 || !lines.at(0).startsWith("untrusted comment:") ||
        !lines.at(2).startsWith("trusted comment: "))
        return refuse(QStringLiteral("not a minisign signature (four lines, with its comments)"));
    const QByteArray first = decoded(lines.at(1), 74);
    if (first.isEmpty() || (!first.startsWith("Ed") && !first.startsWith("ED")))
        return refuse(QStringLiteral("a damaged signature line"));
    Signature signature;
    signature.prehashed = first.startsWith("ED");
    signature.keyId = first.mid(2, 8);
    signature.signature = first.mid(10, 64);
    signature.trustedComment =
        QString::fromUtf8(lines.at(2).mid(int(qstrlen("trusted comment: "))));
    signature.globalSignature = decoded(lines.at(3), 64);
    if (signature.globalSignature.isEmpty())
        return refuse(QStringLiteral("a damaged trusted comment's signature"));
    return signature;
}

} // namespace signature
