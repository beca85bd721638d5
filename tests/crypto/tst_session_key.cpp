#include "crypto/cipher_context.hpp"
#include "crypto/derive_key.hpp"
#include "crypto/detail/openssl/collect_openssl_errors.hpp"
#include "crypto/detail/openssl/errors.hpp"
#include "crypto/errors.hpp"
#include "crypto/mix_nibbles.hpp"
#include "crypto/select_cipher.hpp"
#include "crypto/session_key.hpp"
#include "support/test_environment.hpp"

#include <brano/core/v6/encoding.hpp>

#include <QFile>
#include <QTest>

#include <openssl/err.h>
#include <openssl/evp.h>

namespace core = brano::core::v6;
namespace crypto = kelvra::crypto;
using crypto::session_key;

namespace {

core::byte_array bytes(QByteArray const& data) {
    return core::byte_array(reinterpret_cast<std::uint8_t const*>(data.constData()),
                            static_cast<std::size_t>(data.size()));
}

QByteArray qbytes(core::byte_array const& data) {
    return QByteArray(reinterpret_cast<char const*>(data.data()), static_cast<int>(data.size()));
}

std::string argument(core::result::stack const& status, char const* name) {
    std::string const* value = status.begin()->find_argument(name);
    return value == nullptr ? std::string("<missing>") : *value;
}

core::result::category const* category_of(core::result::stack const& status) {
    return &status.begin()->get_category();
}

core::result::category const* openssl_category = &crypto::detail::openssl::errors::instance();

session_key make_key(QByteArray const& installation, long long msecs, QByteArray const& secret,
                     QByteArray const& command, QByteArray const& path) {
    session_key key;
    key.timestamp = core::datetime::from_msecs_since_epoch(msecs);
    key.device_key = bytes(installation);
    key.secret = bytes(secret);
    key.command = command.toStdString();
    key.path = path.toStdString();
    return key;
}

// "secret|command|path" of a decrypted key.
QByteArray parts(session_key const& key) {
    return qbytes(key.secret) + '|' + QByteArray::fromStdString(key.command) + '|' +
           QByteArray::fromStdString(key.path);
}

// A blob (before mixing) as session key text, and back.
QByteArray text_of_blob(QByteArray const& blob) {
    core::byte_array mixed = bytes(blob);
    crypto::mix_nibbles(mixed);
    return QByteArray::fromStdString(
        core::binary_encoder::encode(core::binary_encoding::base64, mixed));
}

QByteArray blob_of_text(std::string const& text) {
    core::byte_array blob = core::binary_decoder::decode(core::binary_encoding::base64, text);
    crypto::mix_nibbles(blob);
    return qbytes(blob);
}

// A session key text built here, with OpenSSL directly, around any plaintext.
QByteArray build_text(QByteArray const& installation, QByteArray const& plaintext) {
    core::result::stack status;
    core::byte_array const key = crypto::derive_key(bytes(installation), status);
    QByteArray const iv = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    QByteArray ciphertext(plaintext.size() + 16, '\0');
    auto* out = reinterpret_cast<unsigned char*>(ciphertext.data());
    int first = 0;
    int last = 0;
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(context, EVP_aes_256_cbc(), nullptr, key.data(),
                       reinterpret_cast<unsigned char const*>(iv.constData()));
    EVP_EncryptUpdate(context, out, &first,
                      reinterpret_cast<unsigned char const*>(plaintext.constData()),
                      plaintext.size());
    EVP_EncryptFinal_ex(context, out + first, &last);
    EVP_CIPHER_CTX_free(context);
    ciphertext.resize(first + last);
    // 00 01, timestamp 0, IV length 16.
    return text_of_blob(QByteArray::fromHex("000100000000000000001000000000000000") + iv +
                        ciphertext);
}

} // namespace

class tst_session_key : public QObject {
    Q_OBJECT

private slots:
    // The known-answer rows (the text format is shared with the terminal program
    // and must not drift) have a fixed IV and text; the others a random IV.
    void encrypt_and_decrypt_data() {
        for (char const* column : {"installation", "secret", "command", "path", "iv", "text"}) {
            QTest::addColumn<QByteArray>(column);
        }
        QTest::addColumn<qint64>("msecs");
        QFile file(kelvra::testing::data_file(QStringLiteral("session_key_vectors.tsv")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        auto hex = [](QByteArray const& value) {
            return value == "-" ? QByteArray() : QByteArray::fromHex(value);
        };
        int vectors = 0;
        for (QByteArray const& line : file.readAll().split('\n')) {
            if (!line.isEmpty() && !line.startsWith('#')) {
                QList<QByteArray> const f = line.split('\t');
                QCOMPARE(f.size(), 8);
                QTest::newRow(f[0].constData()) << hex(f[1]) << hex(f[4]) << hex(f[5]) << hex(f[6])
                                                << hex(f[3]) << f[7] << f[2].toLongLong();
                ++vectors;
            }
        }
        QVERIFY(vectors >= 3);
        auto row = [](char const* name, QByteArray const& installation, QByteArray const& secret,
                      QByteArray const& command, QByteArray const& path, qint64 msecs) {
            QTest::newRow(name) << installation << secret << command << path << QByteArray()
                                << QByteArray() << msecs;
        };
        qint64 const now = core::datetime::now().to_msecs_since_epoch();
        row("UTF-8 parts", "A|B", "/home/joão/.ssh/id", "programa ção", "/dados/ações", now);
        row("empty parts, time 0", "X", {}, {}, {}, 0);
        row("block-sized plaintext", {}, QByteArray(14, 'a'), {}, {}, 1);
        row("large secret", "K", QByteArray(100000, 'z'), "c", "p", now);
    }

    void encrypt_and_decrypt() {
        QFETCH(QByteArray, installation);
        QFETCH(QByteArray, secret);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, iv);
        QFETCH(QByteArray, text);
        QFETCH(qint64, msecs);
        session_key const key = make_key(installation, msecs, secret, command, path);
        core::result::stack status;
        std::string made;
        if (iv.isEmpty()) {
            made = crypto::encrypt_session_key(key, status);
            QByteArray const blob = blob_of_text(made);
            // A fresh 16-byte IV each time.
            QCOMPARE(blob.mid(10, 8), QByteArray::fromHex("1000000000000000"));
            QVERIFY(blob.mid(18, 16) !=
                    blob_of_text(crypto::encrypt_session_key(key, status)).mid(18, 16));
        } else {
            made = crypto::detail::encrypt_session_key(key, bytes(iv), status);
            QCOMPARE(QByteArray::fromStdString(made), text);
        }
        QVERIFY(!status.has_failed());

        session_key const back = crypto::decrypt_session_key(made, bytes(installation), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(back.timestamp.to_msecs_since_epoch(), msecs);
        QCOMPARE(parts(back), secret + '|' + command + '|' + path);
    }

    // Texts that must not decrypt, and what they fail with.
    void malformed_texts_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("openssl"); // else a session key error
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("current"); // the IV size reported with code 7

        // A fixed IV keeps the outcomes fixed.
        core::byte_array const iv = bytes(QByteArray::fromHex("000102030405060708090a0b0c0d0e0f"));
        core::result::stack status;
        QByteArray const valid = blob_of_text(
            crypto::detail::encrypt_session_key(make_key("K", 1, "s", "c", "p"), iv, status));
        QCOMPARE(valid.size(), 18 + 16 + 16);
        auto with_iv_length = [&valid](char const* length) {
            return text_of_blob(valid.left(10) + QByteArray::fromHex(length) + valid.mid(18));
        };
        auto row = [](char const* name, QByteArray const& text, int code, bool openssl = false,
                      QString const& current = {}) {
            QTest::newRow(name) << text << openssl << code << current;
        };
        row("empty text", QByteArray(), 5);
        row("two bytes", text_of_blob(QByteArray::fromHex("0001")), 5);
        row("version 00 02", text_of_blob(QByteArray::fromHex("0002") + valid.mid(2)), 6);
        row("version 01 01", text_of_blob(QByteArray::fromHex("0101") + valid.mid(2)), 6);
        row("header one byte short", text_of_blob(valid.left(17)), 5);
        row("IV cut short", text_of_blob(valid.left(30)), 5);
        row("IV length one past the blob", with_iv_length("2100000000000000"), 5);
        row("IV length wraps around", with_iv_length("ffffffffffffffff"), 5);
        row("IV length near 2^63", with_iv_length("f0ffffffffffff7f"), 5);
        row("IV of 8 bytes", with_iv_length("0800000000000000"), 7, false, QStringLiteral("8"));
        row("IV of 17 bytes", with_iv_length("1100000000000000"), 7, false, QStringLiteral("17"));
        row("no ciphertext", text_of_blob(valid.left(34)), 2, true);
        row("partial block", text_of_blob(valid.left(41)), 2, true);
        // With these keys the padding check fails.
        row("another installation's key",
            QByteArray::fromStdString(crypto::detail::encrypt_session_key(
                make_key("SERIAL-OF-ANOTHER-DISK", 1, "s", "c", "p"), iv, status)),
            2, true);
    }

    void malformed_texts() {
        QFETCH(QByteArray, text);
        QFETCH(bool, openssl);
        QFETCH(int, code);
        QFETCH(QString, current);
        core::result::stack status;
        session_key const back =
            crypto::decrypt_session_key(text.toStdString(), bytes("K"), status);
        QCOMPARE(status.size(), std::size_t(1));
        QCOMPARE(category_of(status), openssl ? openssl_category : &crypto::errors::instance());
        QCOMPARE(status.get_value(), code);
        if (code == 7) {
            QCOMPARE(QString::fromStdString(argument(status, "current")), current);
        } else if (!openssl) {
            QCOMPARE(QByteArray::fromStdString(argument(status, "key")), text);
        }
        QVERIFY(parts(back) == "||" && back.device_key.empty());
        QCOMPARE(ERR_peek_error(), 0UL);
    }

    // Plaintexts built here; "|" stands for the 0xFF separator.
    void plaintext_parts_data() {
        QTest::addColumn<QByteArray>("plaintext");
        QTest::addColumn<QByteArray>("expected"); // secret|command|path
        QTest::newRow("no separator") << QByteArray("password only") << QByteArray("||");
        QTest::newRow("empty plaintext") << QByteArray() << QByteArray("||");
        QTest::newRow("one separator") << QByteArray("pw|cmd") << QByteArray("pw||");
        QTest::newRow("third separator ends the path")
            << QByteArray("pw|cmd|/p|rest|") << QByteArray("pw|cmd|/p");
    }

    void plaintext_parts() {
        QFETCH(QByteArray, plaintext);
        QFETCH(QByteArray, expected);
        core::result::stack status;
        session_key const back = crypto::decrypt_session_key(
            build_text("INST", plaintext.replace('|', '\xff')).toStdString(), bytes("INST"),
            status);
        QVERIFY(!status.has_failed());
        QCOMPARE(parts(back), expected);
    }

    void mix_nibbles_data() {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("one byte stays") << QByteArray("ab") << QByteArray("ab");
        QTest::newRow("two bytes") << QByteArray("12ab") << QByteArray("1ba2");
        QTest::newRow("five bytes: 0<->2, 1<->3, 4 stays")
            << QByteArray("0a1b2c3d4e") << QByteArray("0c1d2a3b4e");
        QTest::newRow("six bytes") << QByteArray("f0f1f2a3a4a5") << QByteArray("f3f4f5a0a1a2");
    }

    void mix_nibbles() {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        core::byte_array data = bytes(QByteArray::fromHex(in));
        crypto::mix_nibbles(data);
        QCOMPARE(qbytes(data).toHex(), out);
        crypto::mix_nibbles(data);
        QCOMPARE(qbytes(data).toHex(), in);
    }

    void openssl_error_queue() {
        ERR_clear_error();
        core::result::stack status;
        crypto::detail::openssl::collect_openssl_errors("RAND_bytes()", status);
        QCOMPARE(status.get_value(), 2); // an empty queue still fails
        QVERIFY(argument(status, "description").find("RAND_bytes()") != std::string::npos);

        ERR_raise(ERR_LIB_EVP, EVP_R_BAD_DECRYPT);
        ERR_raise_data(ERR_LIB_PROV, EVP_R_WRONG_FINAL_BLOCK_LENGTH, "piece %d", 3);
        status.push_item(crypto::errors::instance(), 9); // replaced, not added to
        crypto::detail::openssl::collect_openssl_errors("EVP_DecryptFinal_ex()", status);
        QCOMPARE(status.size(), std::size_t(1));
        QCOMPARE(status.get_value(), 2);
        QCOMPARE(argument(status, "openssl-reason#0"), std::to_string(EVP_R_BAD_DECRYPT));
        QCOMPARE(argument(status, "openssl-library#1"), std::to_string(ERR_LIB_PROV));
        QCOMPARE(argument(status, "openssl-error-data#1"), std::string("piece 3"));
        QCOMPARE(argument(status, "openssl-library#2"), std::string("<missing>"));
        QCOMPARE(ERR_peek_error(), 0UL);
    }

    void cipher_context_refuses_bad_parameters() {
        core::result::stack status;
        crypto::cipher_context const short_key(core::byte_array(31, 1), core::byte_array(16, 2),
                                               crypto::select_cipher(status), status);
        QVERIFY(!short_key.is_valid());
        QCOMPARE(status.get_value(), 8);
        core::result::stack other;
        crypto::cipher_context const no_cipher(core::byte_array(32, 1), core::byte_array(16, 2),
                                               nullptr, other);
        QVERIFY(!no_cipher.is_valid());
        QCOMPARE(other.get_value(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_session_key)
#include "tst_session_key.moc"
