#include "jobs/signature.h"

namespace signature {

bool available()
{
    return false;
}

bool verify(const QByteArray &, const Signature &, const PublicKey &, QString *why)
{
    *why = QStringLiteral("this build cannot check signatures");
    return false;
}

} // namespace signature
