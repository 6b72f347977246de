#include "transfer/Sha256.h"

#include <QFile>

#include <openssl/evp.h>

namespace velda {

Sha256::Sha256() : m_ctx(EVP_MD_CTX_new()) { EVP_DigestInit_ex(m_ctx, EVP_sha256(), nullptr); }

Sha256::~Sha256() { EVP_MD_CTX_free(m_ctx); }

void Sha256::addData(QByteArrayView data) { EVP_DigestUpdate(m_ctx, data.data(), size_t(data.size())); }

bool Sha256::addData(QIODevice* device) {
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = device->read(buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            return device->atEnd() || !device->isSequential();
        addData(QByteArrayView(buffer.constData(), n));
    }
}

QByteArray Sha256::hexResult() {
    if (m_result.isEmpty()) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_ctx, digest, &length);
        m_result = QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
    }
    return m_result;
}

QByteArray Sha256::ofFile(const QString& path) {
    QFile f(path);
    Sha256 hash;
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return {};
    return hash.hexResult();
}

} // namespace velda
