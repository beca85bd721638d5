#include "crypto/cipher_context.hpp"
#include "crypto/derive_key.hpp"
#include "crypto/detail/openssl/collect_openssl_errors.hpp"
#include "crypto/mix_nibbles.hpp"
#include "crypto/session_key.hpp"
#include "support/test_environment.hpp"

#include <QFile>
#include <QTest>

#include <openssl/err.h>
#include <openssl/evp.h>

namespace core = brano::core::v6;
namespace crypto = kelvra::crypto;

namespace {

core::byte_array bytes(QByteArray const& data) {
    return core::byte_array(data.toStdString());
}

QByteArray qbytes(core::byte_array const& data) {
    return QByteArray(reinterpret_cast<char const*>(data.data()), static_cast<int>(data.size()));
}

// The blob of a session key text mixed or unmixed (it is its own inverse).
QByteArray mixed(QByteArray const& blob) {
    core::byte_array data = bytes(blob);
    crypto::mix_nibbles(data);
    return qbytes(data);
}

// "secret|command|path@msecs" of a decrypted text, or "CATEGORY CODE" of a
// failure, which must leave nothing behind.
QByteArray decrypted(QByteArray const& text, QByteArray const& installation) {
    core::result::stack status;
    crypto::session_key const key =
        crypto::decrypt_session_key(text.toStdString(), bytes(installation), status);
    if (!status.has_failed()) {
        return qbytes(key.secret) + '|' + key.command.c_str() + '|' + key.path.c_str() + '@' +
               QByteArray::number(key.timestamp.to_msecs_since_epoch());
    }
    core::result::item const& item = *status.begin();
    std::string const* key_text = item.find_argument("key"); // the text, with codes 5 and 6
    bool const clean = status.size() == 1 && key.secret.empty() && key.device_key.empty() &&
                       ERR_peek_error() == 0 &&
                       (key_text == nullptr || *key_text == text.toStdString());
    return QByteArray(item.get_category().name()) + ' ' + QByteArray::number(item.get_code()) +
           (clean ? "" : " with leftovers");
}

// A blob made here, around any plaintext: version 00 01, timestamp 0, a
// 16-byte IV, and the plaintext encrypted under the installation's key; "|"
// in the plaintext stands for the 0xFF separator.
QByteArray blob_around(QByteArray const& installation, QByteArray plaintext) {
    plaintext.replace('|', '\xff');
    QByteArray const head =
        QByteArray::fromHex("00010000000000000000100000000000000000112233445566778899aabbccddeeff");
    core::result::stack status;
    crypto::cipher_context const context(crypto::derive_key(bytes(installation), status),
                                         bytes(head.mid(18)), EVP_aes_256_cbc(), status);
    QByteArray out(plaintext.size() + 16, '\0');
    auto* data = reinterpret_cast<unsigned char*>(out.data());
    int first = 0, last = 0;
    EVP_EncryptUpdate(context.encryption(), data, &first,
                      reinterpret_cast<unsigned char const*>(plaintext.constData()),
                      plaintext.size());
    EVP_EncryptFinal_ex(context.encryption(), data + first, &last);
    return head + out.left(first + last);
}

} // namespace

class tst_session_key : public QObject {
    Q_OBJECT

private slots:
    // The known-answer rows (the text format is shared with the terminal program
    // and must not drift) have a fixed IV and text; the others a random IV.
    void encrypt_and_decrypt_data() {
        QTest::addColumn<QByteArray>("installation");
        QTest::addColumn<QByteArrayList>("parts"); // secret, command, path
        QTest::addColumn<QByteArray>("iv");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qint64>("msecs");
        QFile file(kelvra::testing::data_file("session_key_vectors.tsv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        auto hex = [](QByteArray v) { return v == "-" ? QByteArray() : QByteArray::fromHex(v); };
        for (QByteArray const& line : file.readAll().split('\n')) {
            QList<QByteArray> const f = line.split('\t');
            if (f.size() == 8 && !line.startsWith('#')) {
                QTest::newRow(f[0].constData())
                    << hex(f[1]) << QByteArrayList{hex(f[4]), hex(f[5]), hex(f[6])} << hex(f[3])
                    << f[7] << f[2].toLongLong();
            }
        }
        auto row = [](char const* name, QByteArray const& installation, QByteArrayList const& parts,
                      qint64 msecs) {
            QTest::newRow(name) << installation << parts << QByteArray() << QByteArray() << msecs;
        };
        qint64 const now = core::datetime::now().to_msecs_since_epoch();
        row("UTF-8 parts", "A|B", {"/home/joão/.ssh/id", "programa ção", "/dados/ações"}, now);
        row("block-sized plaintext", {}, {QByteArray(14, 'a'), {}, {}}, 1);
        row("large secret", "K", {QByteArray(100000, 'z'), "c", "p"}, now);
    }

    void encrypt_and_decrypt() {
        QFETCH(QByteArray, installation);
        QFETCH(QByteArrayList, parts);
        QFETCH(QByteArray, iv);
        QFETCH(QByteArray, text);
        QFETCH(qint64, msecs);
        crypto::session_key key;
        key.timestamp = core::datetime::from_msecs_since_epoch(msecs);
        key.device_key = bytes(installation);
        key.secret = bytes(parts[0]);
        key.command = parts[1].toStdString();
        key.path = parts[2].toStdString();
        core::result::stack status;
        std::string const made = iv.isEmpty()
                                     ? crypto::encrypt_session_key(key, status)
                                     : crypto::detail::encrypt_session_key(key, bytes(iv), status);
        QVERIFY(!status.has_failed());
        // The known answer, or a fresh IV each time.
        QVERIFY2(iv.isEmpty() ? made != crypto::encrypt_session_key(key, status)
                              : made == text.toStdString(),
                 made.c_str());
        QCOMPARE(decrypted(QByteArray::fromStdString(made), installation),
                 parts.join('|') + '@' + QByteArray::number(msecs));
    }

    // Texts made here and decrypted with installation key "K".
    void decrypt_data() {
        QTest::addColumn<QByteArray>("blob"); // mixed and encoded into the text
        QTest::addColumn<QByteArray>("outcome");
        QByteArray const valid = blob_around("K", "s|c|p");
        auto iv_length = [&valid](char const* length) {
            return valid.left(10) + QByteArray::fromHex(length) + valid.mid(18);
        };
        QByteArray const format = "kelvra-generic-errors 5", version = "kelvra-generic-errors 6",
                         iv_size = "kelvra-generic-errors 7", openssl = "kelvra-openssl-errors 2";
        QTest::newRow("empty text") << QByteArray() << format;
        QTest::newRow("version 00 02") << QByteArray::fromHex("0002") + valid.mid(2) << version;
        QTest::newRow("version 01 01") << QByteArray::fromHex("0101") + valid.mid(2) << version;
        QTest::newRow("header one byte short") << valid.left(17) << format;
        QTest::newRow("IV cut short") << valid.left(30) << format;
        QTest::newRow("IV length one past the blob") << iv_length("2100000000000000") << format;
        QTest::newRow("IV length wraps around") << iv_length("ffffffffffffffff") << format;
        QTest::newRow("IV length near 2^63") << iv_length("f0ffffffffffff7f") << format;
        QTest::newRow("IV of 8 bytes") << iv_length("0800000000000000") << iv_size;
        QTest::newRow("IV of 17 bytes") << iv_length("1100000000000000") << iv_size;
        QTest::newRow("no ciphertext") << valid.left(34) << openssl;
        QTest::newRow("partial block") << valid.left(41) << openssl;
        // With these keys the padding check fails.
        QTest::newRow("another installation's key")
            << blob_around("SERIAL-OF-ANOTHER-DISK", "s|c|p") << openssl;
        QTest::newRow("no separator") << blob_around("K", "password only") << QByteArray("||@0");
        QTest::newRow("empty plaintext") << blob_around("K", {}) << QByteArray("||@0");
        QTest::newRow("one separator") << blob_around("K", "pw|cmd") << QByteArray("pw||@0");
        QTest::newRow("third separator ends the path")
            << blob_around("K", "pw|cmd|/p|rest|") << QByteArray("pw|cmd|/p@0");
    }

    void decrypt() {
        QFETCH(QByteArray, blob);
        QFETCH(QByteArray, outcome);
        QCOMPARE(decrypted(mixed(blob).toBase64(), "K"), outcome);
    }

    // Low nibbles of bytes 0 and 2, and of 1 and 3, change places; byte 4 stays.
    void mix_nibbles_of_an_odd_length() {
        QCOMPARE(mixed(QByteArray::fromHex("0a1b2c3d4e")).toHex(), QByteArray("0c1d2a3b4e"));
    }

    // A failed OpenSSL call that queued no error still fails.
    void openssl_error_queue_empty() {
        ERR_clear_error();
        core::result::stack status;
        crypto::detail::openssl::collect_openssl_errors("RAND_bytes()", status);
        QCOMPARE(status.get_value(), 2);
        QVERIFY(status.begin()->find_argument("description")->find("RAND_bytes()") !=
                std::string::npos);
    }
};

QTEST_GUILESS_MAIN(tst_session_key)
#include "tst_session_key.moc"
