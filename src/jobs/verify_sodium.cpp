#include "jobs/signature.h"

#include <sodium.h>

namespace signature {

bool available()
{
    return sodium_init() >= 0;
}

bool verify(const QByteArray &message, const Signature &signature, const PublicKey &key,
            QString *why)
{
    if (sodium_init() < 0) {
        *why = QStringLiteral("the signature library cannot start");
        return false;
    }
    if (signature.keyId != key.keyId) {
        *why =
            QStringLiteral("signed by key %1, not %2").arg(signature.keyIdText(), key.keyIdText());
        return false;
    }
    const auto *publicKey = reinterpret_cast<const unsigned char *>(key.key.constData());
    QByteArray signedBytes = message;
    if (signature.prehashed) { // the file's BLAKE2b-512, as minisign's default form signs
        signedBytes = QByteArray(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
        crypto_generichash(reinterpret_cast<unsigned char *>(signedBytes.data()),
                           size_t(signedBytes.size()),
                           reinterpret_cast<const unsigned char *>(message.constData()),
                           size_t(message.size()), nullptr, 0);
    }
    if (crypto_sign_verify_detached(
            reinterpret_cast<const unsigned char *>(signature.signature.constData()),
            reinterpret_cast<const unsigned char *>(signedBytes.constData()),
            size_t(signedBytes.size()), publicKey) != 0) {
        *why = QStringLiteral("the signature does not match the file");
        return false;
    }
    const QByteArray comment = signature.signature + signature.trustedComment.toUtf8();
    if (crypto_sign_verify_detached(
            reinterpret_cast<const unsigned char *>(signature.globalSignature.constData()),
            reinterpret_cast<const unsigned char *>(comment.constData()), size_t(comment.size()),
            publicKey) != 0) {
        *why = QStringLiteral("the trusted comment does not match its signature");
        return false;
    }
    return true;
}

} // namespace signature
