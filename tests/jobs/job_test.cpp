// SPDX-License-Identifier: Apache-2.0
#include "jobs/job.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "image/firmware_file.h"
#include "jobs/base64.h"
#include "jobs/job_file.h"
#include "jobs/keys.h"
#include "support/temp_dir.h"

namespace quorvale {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(Base64, RoundTripsAndRefusesWhatItWouldNotWrite) {
    for (const std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar"}) {
        const auto back = FromBase64(Base64(BytesOf(text)));
        ASSERT_TRUE(back) << text;
        EXPECT_EQ(*back, BytesOf(text));
    }
    EXPECT_EQ(Base64(BytesOf("foobar")), "Zm9vYmFy");
    EXPECT_EQ(Base64(BytesOf("fo")), "Zm8=");
    for (const char* bad : {"Zm8", "Zm9=", "Z===", "Zm=8", "Zm 8", "Zm8=Zm8=", "Zg=a"}) {
        EXPECT_FALSE(FromBase64(bad)) << bad;
    }
}

TEST(Keys, SignedByOneKeyVerifiedByItAlone) {
    const auto one = GenerateKeyPair();
    const auto other = GenerateKeyPair();
    ASSERT_TRUE(one && other);
    const Sha256Digest digest = *Sha256(BytesOf("a job"));
    const auto signature = SignDigest(*one, digest);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(VerifyDigest(one->publicKey, digest, *signature));
    EXPECT_FALSE(VerifyDigest(other->publicKey, digest, *signature));
    EXPECT_FALSE(VerifyDigest(one->publicKey, *Sha256(BytesOf("a jab")), *signature));
    PublicKey offCurve = one->publicKey;
    offCurve[40] ^= 1;
    EXPECT_FALSE(VerifyDigest(offCurve, digest, *signature));
}

TEST(Keys, TextFormsReadBackOrSayWhatIsWrong) {
    const auto key = GenerateKeyPair();
    ASSERT_TRUE(key);
    const auto line = ParsePublicKey(PublicKeyLine(key->publicKey, "line 3, bench 2"));
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, key->publicKey);
    const auto pair = ParsePrivateKey(PrivateKeyText(*key, ""));
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->secret, key->secret);
    EXPECT_EQ(KeyId(key->publicKey), Sha256Hex(key->publicKey).substr(0, 16));

    const std::string point = Base64(key->publicKey);
    PublicKey compressed = key->publicKey;
    compressed[0] = 0x02;
    const std::string bads[] = {"ssh-ed25519 " + point,          "ecdsa-p256",
                                "ecdsa-p256 " + point.substr(4), "ecdsa-p256 " + Base64(compressed),
                                "ecdsa-p256 " + point + "!",     ""};
    for (const std::string& bad : bads) {
        const auto parsed = ParsePublicKey(bad);
        ASSERT_FALSE(parsed) << bad;
        EXPECT_EQ(parsed.error().Kind(), ErrorKind::Malformed);
    }
    EXPECT_FALSE(ParsePrivateKey(PublicKeyLine(key->publicKey, "")));
}

TEST(Keys, MadeOnceAndTheSecretKeptFromOthers) {
    test::TempDir dir;
    const std::string path = dir.File("engineering.key");
    ASSERT_TRUE(MakeKeyFiles(path, "engineering"));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const auto secret = ReadPrivateKeyFile(path);
    const auto trusted = ReadTrustedKeys({path + ".pub"});
    ASSERT_TRUE(secret && trusted);
    EXPECT_EQ(trusted->front().key, secret->publicKey);

    const Status again = MakeKeyFiles(path, "");
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().Kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(ReadPrivateKeyFile(path)->secret, secret->secret) << "the key was overwritten";
}

// A job made and signed once, then altered as a shared folder or a careless hand might.
class JobTest : public testing::Test {
protected:
    void SetUp() override {
        Bytes data(1024);
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<std::uint8_t>(i * 13);
        }
        m_firmware = m_dir.Write("board.qvx", EncodeFirmwareFile({57600, 0x2000, 4, 7}, data));
        ASSERT_TRUE(MakeKeyFiles(m_dir.File("engineering.key"), ""));
        ASSERT_TRUE(MakeKeyFiles(m_dir.File("other.key"), ""));
        m_key = *ReadPrivateKeyFile(m_dir.File("engineering.key"));
        m_trusted = *ReadTrustedKeys({m_dir.File("engineering.key.pub")});
        const auto job = MakeJob({m_firmware,
                                  "Board v4",
                                  {19200, 8, Parity::Even, StopBits::Two},
                                  "2026-12-11T08:00:00.000Z"},
                                 m_key);
        ASSERT_TRUE(job);
        m_job = *job;
    }

    std::string Altered(const std::function<void(nlohmann::ordered_json&)>& change) const {
        auto job = nlohmann::ordered_json::parse(m_job);
        change(job);
        return job.dump(2);
    }

    test::TempDir m_dir;
    std::string m_firmware;
    KeyPair m_key;
    std::vector<TrustedKey> m_trusted;
    std::string m_job;
};

TEST_F(JobTest, SignedJobOpensWithItsFirmwareAndLine) {
    const auto opened = OpenJob(BytesOf(m_job), m_trusted);
    ASSERT_TRUE(std::holds_alternative<Job>(opened)) << std::get<JobRefusal>(opened).words;
    const Job& job = std::get<Job>(opened);
    EXPECT_EQ(job.name, "Board v4");
    EXPECT_EQ(job.firmwareFile, "board.qvx");
    EXPECT_EQ(job.keyId, KeyId(m_key.publicKey));
    EXPECT_EQ(job.line.baudRate, 19200u);
    EXPECT_EQ(job.line.parity, Parity::Even);
    EXPECT_EQ(job.line.stopBits, StopBits::Two);
    EXPECT_EQ(job.jobSha256, Sha256Hex(BytesOf(m_job)));
    FirmwareImage image;
    ASSERT_EQ(image.Load(m_firmware), LoadOk);
    EXPECT_EQ(job.firmware, Bytes(image.GetFileBytes().begin(), image.GetFileBytes().end()));
}

TEST_F(JobTest, EachRefusalNamesTheCheckThatFailed) {
    const auto otherKey = *ReadTrustedKeys({m_dir.File("other.key.pub")});
    const auto flipFirmwareByte = [](nlohmann::ordered_json& job) {
        auto bytes = *FromBase64(job["firmware"]["bytes"].get<std::string>());
        bytes[100] ^= 0x01;
        job["firmware"]["bytes"] = Base64(bytes);
    };
    const struct {
        const char* name;
        std::string job;
        std::vector<TrustedKey> trusted;
        JobCheck check;
    } cases[] = {
        {"signed by a key not trusted", m_job, otherKey, JobCheck::Key},
        {"no key trusted at all", m_job, {}, JobCheck::Key},
        {"one byte of the firmware changed", Altered(flipFirmwareByte), m_trusted,
         JobCheck::Digest},
        {"the name changed after signing", Altered([](auto& job) { job["name"] = "Board v5"; }),
         m_trusted, JobCheck::Signature},
        {"the line changed after signing", Altered([](auto& job) { job["line"]["baud"] = 115200; }),
         m_trusted, JobCheck::Signature},
        {"the digest changed",
         Altered([](auto& job) { job["firmware"]["sha256"] = std::string(64, '0'); }), m_trusted,
         JobCheck::Digest},
        {"the signature of another job",
         Altered([](auto& job) { job["signature"] = Base64(Bytes(64, 7)); }), m_trusted,
         JobCheck::Signature},
        {"truncated JSON", m_job.substr(0, m_job.size() / 2), m_trusted, JobCheck::Document},
        {"not JSON at all", "PK\x03\x04", m_trusted, JobCheck::Document},
        {"a newer format version", Altered([](auto& job) { job["version"] = 2; }), m_trusted,
         JobCheck::Format},
        {"a firmware file, not a job", "[1, 2]", m_trusted, JobCheck::Document},
        {"a field missing", Altered([](auto& job) { job.erase("key_id"); }), m_trusted,
         JobCheck::Fields},
        {"a parity no list holds", Altered([](auto& job) { job["line"]["parity"] = "Sometimes"; }),
         m_trusted, JobCheck::Fields},
    };
    for (const auto& c : cases) {
        const auto opened = OpenJob(BytesOf(c.job), c.trusted);
        ASSERT_TRUE(std::holds_alternative<JobRefusal>(opened)) << c.name;
        EXPECT_EQ(std::get<JobRefusal>(opened).check, c.check)
            << c.name << ": " << std::get<JobRefusal>(opened).words;
    }
}

TEST_F(JobTest, ABadFirmwareFileMakesNoJob) {
    const std::string shortFile = m_dir.Write("short.qvx", Bytes(5, 0));
    const auto job = MakeJob({shortFile, "x", {}, ""}, m_key);
    ASSERT_FALSE(job);
    EXPECT_EQ(job.error().Words(), "File size is incorrect\n'" + shortFile + "'");
}

TEST(JobChoice, WhatAStationTakesLockedOrNot) {
    const std::string folder = "/etc/quorvale/trusted-keys";
    const std::string locked =
        "the station is locked (by the keys in " + folder + "): it takes only a job they signed";
    const struct {
        FirmwareChoice choice;
        bool locked;
        std::optional<std::string> refusal;
    } cases[] = {
        {{"fw.qvx", {}, {}, true}, false, std::nullopt},
        {{"", "a.job", {"k.pub"}, false}, false, std::nullopt},
        {{"", "a.job", {}, false}, true, std::nullopt},
        {{"", std::nullopt, {}, false}, false, "give a firmware file, or --job JOBFILE"},
        {{"fw.qvx", "a.job", {}, false}, false, "give a firmware file or --job, not both"},
        {{"", "a.job", {"k.pub"}, true},
         false,
         "line options can't be given beside a job: it holds the line settings"},
        {{"fw.qvx", {}, {"k.pub"}, false}, false, "--trust is for a job"},
        {{"fw.qvx", {}, {}, false}, true, locked + ", not a firmware file"},
        {{"", "a.job", {"k.pub"}, false}, true, locked + ", and no --trust"},
        {{"", "a.job", {}, true}, true, locked + ", with the line settings it holds"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChoiceRefusal(c.choice, c.locked, folder), c.refusal)
            << c.choice.file << " " << c.choice.job.value_or("") << " " << c.locked;
    }
}

TEST(JobLock, TestsMayLockAMachineButNeverUnlockIt) {
    const std::string system = "/etc/quorvale/trusted-keys";
    EXPECT_EQ(LockFolderInEffect(true, "/tmp/t", system), system);
    EXPECT_EQ(LockFolderInEffect(true, nullptr, system), system);
    EXPECT_EQ(LockFolderInEffect(false, "/tmp/t", system), "/tmp/t");
    EXPECT_EQ(LockFolderInEffect(false, "", system), system);
    EXPECT_EQ(LockFolderInEffect(false, nullptr, system), system);
}

// The variable that points the lock at a test's folder, put back when the test ends.
class TestLockFolder {
public:
    explicit TestLockFolder(const std::string& folder) {
        ::setenv("QUORVALE_TEST_TRUSTED_KEYS", folder.c_str(), 1);
    }
    ~TestLockFolder() { ::unsetenv("QUORVALE_TEST_TRUSTED_KEYS"); }
};

TEST_F(JobTest, LockedByTheSystemFolderTheJobNeedsNoTrustGiven) {
    const std::string folder = m_dir.File("trusted-keys");
    ::mkdir(folder.c_str(), 0755);
    const TestLockFolder lockFolder(folder);
    const std::string job = m_dir.Write("board.job", BytesOf(m_job));

    // There, even with no key in it, the folder locks: a misnamed key locks everything.
    m_dir.Write("trusted-keys/engineering.pub.txt",
                BytesOf(PublicKeyLine(m_key.publicKey, "engineering")));
    auto lock = ReadStationLock();
    ASSERT_TRUE(lock);
    EXPECT_TRUE(lock->locked);
    EXPECT_TRUE(lock->keys.empty());
    const auto noKey = OpenJobFile(job, {m_dir.File("engineering.key.pub")}, *lock);
    ASSERT_FALSE(noKey);
    EXPECT_NE(noKey.error().Words().find("which holds no key"), std::string::npos);

    m_dir.Write("trusted-keys/Engineering.PUB",
                BytesOf(PublicKeyLine(m_key.publicKey, "engineering")));
    lock = ReadStationLock();
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->keys.size(), 1u);
    const auto opened = OpenJobFile(job, {}, *lock);
    ASSERT_TRUE(opened) << opened.error().Words();
    EXPECT_EQ(opened->image->GetHardwareCode(), 7);

    // The keys given beside a locked station are not the ones it goes by.
    m_dir.Write("trusted-keys/Engineering.PUB",
                BytesOf(PublicKeyLine(GenerateKeyPair()->publicKey, "another")));
    lock = ReadStationLock();
    const auto refused = OpenJobFile(job, {m_dir.File("engineering.key.pub")}, *lock);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().Words(), "job '" + job +
                                           "' refused by its key check: it is signed by key " +
                                           KeyId(m_key.publicKey) + ", which is not trusted");
}

TEST_F(JobTest, ANameThatIsNotUtf8MakesNoJob) {
    const auto job = MakeJob({m_firmware, "Platine \xe9", {}, ""}, m_key);
    ASSERT_FALSE(job);
    EXPECT_EQ(job.error().Kind(), ErrorKind::Malformed);
    EXPECT_TRUE(MakeJob({m_firmware, "Platine \xc3\xa9", {}, ""}, m_key));
}

}  // namespace
}  // namespace quorvale
