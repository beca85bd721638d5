#include "crypto/cipher_context.hpp"
#include "crypto/cipher_parameters.hpp"
#include "crypto/derive_key.hpp"
#include "crypto/detail/openssl/collect_openssl_errors.hpp"
#include "crypto/detail/openssl/errors.hpp"
#include "crypto/errors.hpp"
#include "crypto/mix_nibbles.hpp"
#include "crypto/random_bytes.hpp"
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

Q_DECLARE_METATYPE(core::byte_array)

namespace {

core::byte_array bytes(QByteArray const& data) {
    return core::byte_array(reinterpret_cast<std::uint8_t const*>(data.constData()),
                            static_cast<std::size_t>(data.size()));
}

QByteArray qbytes(core::byte_array const& data) {
    return QByteArray(reinterpret_cast<char const*>(data.data()), static_cast<int>(data.size()));
}

core::byte_array hex(char const* text) {
    return bytes(QByteArray::fromHex(text));
}

std::string argument(core::result::item const& item, char const* name) {
    std::string const* value = item.find_argument(name);
    return value == nullptr ? std::string("<missing>") : *value;
}

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

// A session key text built here from its parts, the way the format lays
// them out, around an AES-256-CBC ciphertext of `plaintext`.
std::string build_text(QByteArray const& installation, QByteArray const& plaintext) {
    core::result::stack status;
    core::byte_array const key = crypto::derive_key(bytes(installation), status);
    QByteArray const iv = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    QByteArray ciphertext(plaintext.size() + 16, '\0');
    int out = 0;
    int total = 0;
    EVP_EncryptInit_ex(context, EVP_aes_256_cbc(), nullptr, key.data(),
                       reinterpret_cast<unsigned char const*>(iv.constData()));
    EVP_EncryptUpdate(context, reinterpret_cast<unsigned char*>(ciphertext.data()), &out,
                      reinterpret_cast<unsigned char const*>(plaintext.constData()),
                      plaintext.size());
    total = out;
    EVP_EncryptFinal_ex(context, reinterpret_cast<unsigned char*>(ciphertext.data()) + total, &out);
    total += out;
    EVP_CIPHER_CTX_free(context);
    ciphertext.resize(total);

    QByteArray blob = QByteArray::fromHex("0001"
                                          "0000000000000000"
                                          "1000000000000000");
    blob += iv;
    blob += ciphertext;
    core::byte_array mixed = bytes(blob);
    crypto::mix_nibbles(mixed);
    return core::binary_encoder::encode(core::binary_encoding::base64, mixed);
}

// A blob (before mixing) as session key text.
std::string text_of_blob(QByteArray const& blob) {
    core::byte_array mixed = bytes(blob);
    crypto::mix_nibbles(mixed);
    return core::binary_encoder::encode(core::binary_encoding::base64, mixed);
}

QByteArray blob_of_text(std::string const& text) {
    core::byte_array blob = core::binary_decoder::decode(core::binary_encoding::base64, text);
    crypto::mix_nibbles(blob);
    return qbytes(blob);
}

} // namespace

class tst_session_key : public QObject {
    Q_OBJECT

private slots:
    void known_answer_vectors_data() {
        QTest::addColumn<QByteArray>("installation");
        QTest::addColumn<qint64>("msecs");
        QTest::addColumn<QByteArray>("iv");
        QTest::addColumn<QByteArray>("secret");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("text");

        QFile file(kelvra::testing::data_file(QStringLiteral("session_key_vectors.tsv")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        auto field = [](QByteArray const& value) {
            return value == "-" ? QByteArray() : QByteArray::fromHex(value);
        };
        int rows = 0;
        for (QByteArray const& line : file.readAll().split('\n')) {
            if (line.isEmpty() || line.startsWith('#')) {
                continue;
            }
            QList<QByteArray> const f = line.split('\t');
            QCOMPARE(f.size(), 8);
            QTest::newRow(f[0].constData()) << field(f[1]) << f[2].toLongLong() << field(f[3])
                                            << field(f[4]) << field(f[5]) << field(f[6]) << f[7];
            ++rows;
        }
        QVERIFY(rows >= 3);
    }

    // The text format is shared with the terminal program: it must not drift.
    void known_answer_vectors() {
        QFETCH(QByteArray, installation);
        QFETCH(qint64, msecs);
        QFETCH(QByteArray, iv);
        QFETCH(QByteArray, secret);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, text);

        session_key const key = make_key(installation, msecs, secret, command, path);
        core::result::stack status;
        std::string const made = crypto::detail::encrypt_session_key(key, bytes(iv), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(QByteArray::fromStdString(made), text);

        session_key const back =
            crypto::decrypt_session_key(text.toStdString(), bytes(installation), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(back.timestamp.to_msecs_since_epoch(), msecs);
        QCOMPARE(qbytes(back.secret), secret);
        QCOMPARE(QByteArray::fromStdString(back.command), command);
        QCOMPARE(QByteArray::fromStdString(back.path), path);
        QVERIFY(back.device_key == bytes(installation));
    }

    void round_trip_data() {
        QTest::addColumn<QByteArray>("installation");
        QTest::addColumn<qint64>("msecs");
        QTest::addColumn<QByteArray>("secret");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("path");

        qint64 const now = core::datetime::now().to_msecs_since_epoch();
        QTest::newRow("password") << QByteArray("SERIAL-1") << now << QByteArray("s3nh@")
                                  << QByteArray("menu") << QByteArray("/home/u");
        QTest::newRow("key file, UTF-8 parts")
            << QByteArray("A|B") << now + 1 << QByteArray("/home/joão/.ssh/id_ed25519")
            << QByteArray("programa ção") << QByteArray("/dados/ações");
        QTest::newRow("default time, empty parts")
            << QByteArray("X") << qint64(0) << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("secret only") << QByteArray("X") << qint64(-86400001) << QByteArray("only")
                                     << QByteArray() << QByteArray();
        QTest::newRow("block-sized plaintext")
            << QByteArray() << qint64(1) << QByteArray(14, 'a') << QByteArray() << QByteArray();
        QTest::newRow("large secret") << QByteArray("K") << now << QByteArray(100000, 'z')
                                      << QByteArray("c") << QByteArray("p");
    }

    void round_trip() {
        QFETCH(QByteArray, installation);
        QFETCH(qint64, msecs);
        QFETCH(QByteArray, secret);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, path);

        core::result::stack status;
        std::string const text = crypto::encrypt_session_key(
            make_key(installation, msecs, secret, command, path), status);
        QVERIFY(!status.has_failed());
        QVERIFY(!text.empty());
        // Version 00 01 and a 16-byte IV, as the terminal program expects.
        QByteArray const blob = blob_of_text(text);
        QCOMPARE(blob.left(2), QByteArray::fromHex("0001"));
        QCOMPARE(blob.mid(10, 8), QByteArray::fromHex("1000000000000000"));
        QCOMPARE((blob.size() - 34) % 16, 0);

        session_key const back = crypto::decrypt_session_key(text, bytes(installation), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(back.timestamp.to_msecs_since_epoch(), msecs);
        QCOMPARE(qbytes(back.secret), secret);
        QCOMPARE(QByteArray::fromStdString(back.command), command);
        QCOMPARE(QByteArray::fromStdString(back.path), path);
    }

    void two_encryptions_differ() {
        session_key const key = make_key("SER", 5, "secret", "cmd", "/p");
        core::result::stack status;
        std::string const first = crypto::encrypt_session_key(key, status);
        std::string const second = crypto::encrypt_session_key(key, status);
        QVERIFY(!status.has_failed());
        QVERIFY(first != second);
        QVERIFY(blob_of_text(first).mid(18, 16) != blob_of_text(second).mid(18, 16));
        QCOMPARE(qbytes(crypto::decrypt_session_key(second, key.device_key, status).secret),
                 QByteArray("secret"));
    }

    void another_installation_cannot_decrypt() {
        // A fixed IV keeps the outcome fixed: with these keys the padding check fails.
        session_key const key = make_key("SERIAL-OF-THIS-DISK", 7, "secret", "cmd", "/p");
        core::result::stack status;
        std::string const text = crypto::detail::encrypt_session_key(
            key, hex("0f0e0d0c0b0a09080706050403020100"), status);
        QVERIFY(!status.has_failed());

        session_key const back =
            crypto::decrypt_session_key(text, bytes("SERIAL-OF-ANOTHER-DISK"), status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.size(), std::size_t(1));
        auto const& item = *status.begin();
        QCOMPARE(&item.get_category(), static_cast<core::result::category const*>(
                                           &crypto::detail::openssl::errors::instance()));
        QCOMPARE(item.get_code(), 2);
        QVERIFY(argument(item, "openssl-string#0").find("bad decrypt") != std::string::npos);
        QVERIFY(back.secret.empty());
        QVERIFY(back.device_key.empty());
        QCOMPARE(back.timestamp.to_msecs_since_epoch(), 0LL);
        QCOMPARE(ERR_peek_error(), 0UL);
    }

    void malformed_texts_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("current"); // the IV size reported with code 7

        session_key const key = make_key("K", 1, "s", "c", "p");
        core::result::stack status;
        QByteArray const valid = blob_of_text(crypto::detail::encrypt_session_key(
            key, hex("000102030405060708090a0b0c0d0e0f"), status));
        QCOMPARE(valid.size(), 18 + 16 + 16);
        QByteArray const header = QByteArray::fromHex("0001"
                                                      "0100000000000000");
        auto with_iv_length = [&](char const* length_hex, QByteArray const& rest) {
            return QByteArray::fromStdString(
                text_of_blob(header + QByteArray::fromHex(length_hex) + rest));
        };

        QTest::newRow("empty text") << QByteArray() << 5 << QString();
        QTest::newRow("not base64") << QByteArray("@@@@") << 5 << QString();
        QTest::newRow("two bytes")
            << QByteArray::fromStdString(text_of_blob(QByteArray::fromHex("0001"))) << 5
            << QString();
        QTest::newRow("version 00 02")
            << QByteArray::fromStdString(text_of_blob(QByteArray::fromHex("0002") + valid.mid(2)))
            << 6 << QString();
        QTest::newRow("version 01 01")
            << QByteArray::fromStdString(text_of_blob(QByteArray::fromHex("0101") + valid.mid(2)))
            << 6 << QString();
        QTest::newRow("three bytes")
            << QByteArray::fromStdString(text_of_blob(QByteArray::fromHex("000100"))) << 5
            << QString();
        QTest::newRow("header one byte short")
            << QByteArray::fromStdString(text_of_blob(valid.left(17))) << 5 << QString();
        QTest::newRow("header without IV")
            << QByteArray::fromStdString(text_of_blob(valid.left(18))) << 5 << QString();
        QTest::newRow("IV cut short")
            << QByteArray::fromStdString(text_of_blob(valid.left(30))) << 5 << QString();
        QTest::newRow("IV length past the blob")
            << with_iv_length("2100000000000000", valid.mid(18)) << 5 << QString();
        QTest::newRow("IV length wraps around")
            << with_iv_length("ffffffffffffffff", valid.mid(18)) << 5 << QString();
        QTest::newRow("IV length near 2^63")
            << with_iv_length("f0ffffffffffff7f", valid.mid(18)) << 5 << QString();
        QTest::newRow("IV of 8 bytes")
            << with_iv_length("0800000000000000", valid.mid(18)) << 7 << QStringLiteral("8");
        QTest::newRow("IV of 0 bytes")
            << with_iv_length("0000000000000000", valid.mid(18)) << 7 << QStringLiteral("0");
    }

    void malformed_texts() {
        QFETCH(QByteArray, text);
        QFETCH(int, code);
        QFETCH(QString, current);

        core::result::stack status;
        session_key const back =
            crypto::decrypt_session_key(text.toStdString(), bytes("K"), status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.size(), std::size_t(1));
        auto const& item = *status.begin();
        QCOMPARE(&item.get_category(),
                 static_cast<core::result::category const*>(&crypto::errors::instance()));
        QCOMPARE(item.get_code(), code);
        if (code == 7) {
            QCOMPARE(QString::fromStdString(argument(item, "current")), current);
            QCOMPARE(argument(item, "expected"), std::string("16"));
        } else {
            QCOMPARE(QByteArray::fromStdString(argument(item, "key")), text);
        }
        QVERIFY(back.secret.empty() && back.command.empty() && back.path.empty());
        QVERIFY(back.device_key.empty());
    }

    void ciphertext_damage_fails_in_openssl_data() {
        QTest::addColumn<int>("keep"); // bytes of ciphertext kept
        QTest::newRow("no ciphertext") << 0;
        QTest::newRow("partial block") << 7;
        QTest::newRow("one of two blocks") << 16;
    }

    void ciphertext_damage_fails_in_openssl() {
        QFETCH(int, keep);
        session_key const key = make_key("K", 1, "secret", "command", "path");
        core::result::stack status;
        QByteArray const blob = blob_of_text(crypto::encrypt_session_key(key, status));
        QCOMPARE(blob.size(), 18 + 16 + 32);
        crypto::decrypt_session_key(text_of_blob(blob.left(34 + keep)), bytes("K"), status);
        QVERIFY(status.has_failed());
        QCOMPARE(&status.begin()->get_category(),
                 static_cast<core::result::category const*>(
                     &crypto::detail::openssl::errors::instance()));
        QCOMPARE(status.get_value(), 2);
    }

    void plaintext_parts_data() {
        QTest::addColumn<QByteArray>("plaintext");
        QTest::addColumn<QByteArray>("secret");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("no separator")
            << QByteArray("password only") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("empty plaintext")
            << QByteArray() << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("one separator") << QByteArray("pw\xff"
                                                     "cmd")
                                       << QByteArray("pw") << QByteArray() << QByteArray();
        QTest::newRow("two separators")
            << QByteArray("pw\xff"
                          "cmd\xff"
                          "/p")
            << QByteArray("pw") << QByteArray("cmd") << QByteArray("/p");
        QTest::newRow("third separator ends the path")
            << QByteArray("pw\xff"
                          "cmd\xff"
                          "/p\xff"
                          "rest\xff")
            << QByteArray("pw") << QByteArray("cmd") << QByteArray("/p");
        QTest::newRow("only separators")
            << QByteArray("\xff\xff") << QByteArray() << QByteArray() << QByteArray();
    }

    void plaintext_parts() {
        QFETCH(QByteArray, plaintext);
        QFETCH(QByteArray, secret);
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, path);
        core::result::stack status;
        session_key const back =
            crypto::decrypt_session_key(build_text("INST", plaintext), bytes("INST"), status);
        QVERIFY(!status.has_failed());
        QCOMPARE(qbytes(back.secret), secret);
        QCOMPARE(QByteArray::fromStdString(back.command), command);
        QCOMPARE(QByteArray::fromStdString(back.path), path);
    }

    void mix_nibbles_data() {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("one byte stays") << QByteArray::fromHex("ab") << QByteArray::fromHex("ab");
        QTest::newRow("two bytes") << QByteArray::fromHex("12ab") << QByteArray::fromHex("1ba2");
        QTest::newRow("three bytes, last stays")
            << QByteArray::fromHex("12abcd") << QByteArray::fromHex("1ba2cd");
        QTest::newRow("four bytes")
            << QByteArray::fromHex("01234567") << QByteArray::fromHex("05274163");
        QTest::newRow("five bytes: 0<->2, 1<->3, 4 stays")
            << QByteArray::fromHex("0a1b2c3d4e") << QByteArray::fromHex("0c1d2a3b4e");
        QTest::newRow("six bytes")
            << QByteArray::fromHex("f0f1f2a3a4a5") << QByteArray::fromHex("f3f4f5a0a1a2");
    }

    void mix_nibbles() {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        core::byte_array data = bytes(in);
        crypto::mix_nibbles(data);
        QCOMPARE(qbytes(data), out);
        crypto::mix_nibbles(data);
        QCOMPARE(qbytes(data), in);
    }

    void openssl_errors_are_indexed_in_queue_order() {
        ERR_clear_error();
        ERR_raise(ERR_LIB_EVP, EVP_R_BAD_DECRYPT);
        ERR_raise_data(ERR_LIB_PROV, EVP_R_WRONG_FINAL_BLOCK_LENGTH, "piece %d", 3);
        core::result::stack status;
        status.push_item(crypto::errors::instance(), 9); // replaced, not added to
        crypto::detail::openssl::collect_openssl_errors("EVP_DecryptFinal_ex()", status);
        QCOMPARE(status.size(), std::size_t(1));
        auto const& item = *status.begin();
        QCOMPARE(item.get_code(), 2);
        QCOMPARE(argument(item, "openssl-library#0"), std::to_string(ERR_LIB_EVP));
        QCOMPARE(argument(item, "openssl-reason#0"), std::to_string(EVP_R_BAD_DECRYPT));
        QCOMPARE(argument(item, "openssl-library#1"), std::to_string(ERR_LIB_PROV));
        QCOMPARE(argument(item, "openssl-reason#1"),
                 std::to_string(EVP_R_WRONG_FINAL_BLOCK_LENGTH));
        QCOMPARE(argument(item, "openssl-error-data#1"), std::string("piece 3"));
        QCOMPARE(item.find_argument("openssl-error-data#0"),
                 static_cast<std::string const*>(nullptr));
        QVERIFY(argument(item, "openssl-file#0").find(".cpp") != std::string::npos);
        QVERIFY(std::stoi(argument(item, "openssl-line#0")) > 0);
        QVERIFY(argument(item, "openssl-string#0").rfind("error:", 0) == 0);
        QCOMPARE(item.find_argument("openssl-library#2"), static_cast<std::string const*>(nullptr));
        QCOMPARE(ERR_peek_error(), 0UL);
    }

    void empty_openssl_queue_still_fails() {
        ERR_clear_error();
        core::result::stack status;
        crypto::detail::openssl::collect_openssl_errors("RAND_bytes()", status);
        QVERIFY(status.has_failed());
        QCOMPARE(status.get_value(), 2);
        QVERIFY(argument(*status.begin(), "description").find("RAND_bytes()") != std::string::npos);
        QCOMPARE(status.begin()->find_argument("openssl-string#0"),
                 static_cast<std::string const*>(nullptr));
    }

    void cipher_context_checks_sizes_data() {
        QTest::addColumn<int>("key_size");
        QTest::addColumn<int>("iv_size");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fits") << 32 << 16 << 0 << QString() << QString();
        QTest::newRow("short IV") << 32 << 15 << 7 << QStringLiteral("15") << QStringLiteral("16");
        QTest::newRow("long IV, bad key: IV first")
            << 16 << 17 << 7 << QStringLiteral("17") << QStringLiteral("16");
        QTest::newRow("short key") << 31 << 16 << 8 << QStringLiteral("31") << QStringLiteral("32");
        QTest::newRow("empty key") << 0 << 16 << 8 << QStringLiteral("0") << QStringLiteral("32");
    }

    void cipher_context_checks_sizes() {
        QFETCH(int, key_size);
        QFETCH(int, iv_size);
        QFETCH(int, code);
        QFETCH(QString, current);
        QFETCH(QString, expected);
        core::result::stack status;
        EVP_CIPHER const* cipher = crypto::select_cipher(status);
        QVERIFY(cipher != nullptr);
        crypto::cipher_context const context(
            core::byte_array(static_cast<std::size_t>(key_size), 1),
            core::byte_array(static_cast<std::size_t>(iv_size), 2), cipher, status);
        QCOMPARE(context.is_valid(), code == 0);
        QCOMPARE(status.get_value(), code);
        if (code != 0) {
            QCOMPARE(&status.begin()->get_category(),
                     static_cast<core::result::category const*>(&crypto::errors::instance()));
            QCOMPARE(QString::fromStdString(argument(*status.begin(), "current")), current);
            QCOMPARE(QString::fromStdString(argument(*status.begin(), "expected")), expected);
        }
    }

    void missing_cipher_is_reported_with_its_parameters() {
        core::result::stack status;
        crypto::cipher_context const context(core::byte_array(32, 1), core::byte_array(16, 2),
                                             nullptr, status);
        QVERIFY(!context.is_valid());
        QCOMPARE(status.get_value(), 1);
        QCOMPARE(argument(*status.begin(), "algorithm"), std::string("2"));
        QCOMPARE(argument(*status.begin(), "chaining_mode"), std::string("0"));
    }

    void random_bytes_are_fresh() {
        core::result::stack status;
        core::byte_array const a = crypto::random_bytes(16, status);
        core::byte_array const b = crypto::random_bytes(16, status);
        QVERIFY(!status.has_failed());
        QCOMPARE(a.size(), std::size_t(16));
        QVERIFY(a != b);
        QVERIFY(crypto::random_bytes(0, status).empty());
        QVERIFY(!status.has_failed());
    }
};

QTEST_GUILESS_MAIN(tst_session_key)
#include "tst_session_key.moc"
