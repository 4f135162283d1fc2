// Servers that answer with more than asked, redirect into the clear, leave out the digest that
// ties the installer to the document, serve a document no trusted key signed (keys come from the
// installation root's trusted-keys folder, which must be the user's own), or an archive built to
// make the extracted tree impossible to remove.
#include <foundation/httpclient/CurlHttpClient.h>
#include <foundation/urlmanager/UrlManager.h>
#include <halvexconnector/latestversion/checker/DocumentSignature.h>
#include <halvexconnector/latestversion/checker/LatestVersionChecker.h>
#include <halvexconnector/latestversion/kciextractor/KCIExtractor.h>

#include <fl/filesystem/path_conversion.h>

#include <tripwire/testsupport/ChildProcess.h>
#include <tripwire/testsupport/InOwnProcess.h>
#include <tripwire/testsupport/KciArchive.h>
#include <tripwire/testsupport/LoopbackServer.h>
#include <tripwire/testsupport/ScriptedHttpClient.h>
#include <tripwire/testsupport/TempDirectory.h>
#include <tripwire/testsupport/Thrown.h>

#include "MinisignKey.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using foundation::httpclient::CurlHttpClient;
using foundation::httpclient::redirectAllowed;
using foundation::httpclient_core::HttpError;
using halvexconnector::latestversion::checker::LatestVersionChecker;
using halvexconnector::latestversion::checker::LatestVersionError;
using halvexconnector::latestversion::kciextractor::extractKCI;
using halvexconnector::latestversion::kciextractor::KCIExtractionError;
using sample::server::makeMinisignKey;
using sample::server::MinisignKey;
using sample::server::minisignPublicKeyFile;
using sample::server::minisignSignature;
using namespace tripwire::testsupport;

TEST(HostileServer, RedirectsAreCheckedHopByHop) {
    // clang-format off
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"http://127.0.0.1:8080/a", "http://localhost:9/b", true},
        {"http://127.0.0.1/a", "http://[::1]/b", true},
        {"http://127.0.0.1/a", "https://downloads.example/b", true},
        {"https://a.example/a", "https://b.example/b", true},
        {"http://127.0.0.1/a", "http://downloads.example/b", false},
        {"http://127.0.0.1/a", "http://10.0.0.1/b", false},
        {"http://a.example/a", "http://127.0.0.1/b", false},
        {"https://127.0.0.1/a", "http://127.0.0.1/b", false},
        {"https://a.example/a", "ftp://a.example/b", false},
        {"http://127.0.0.1/a", "not a url", false}};
    // clang-format on
    for (const auto& [from, to, allowed] : cases)
        EXPECT_EQ(redirectAllowed(from, to), allowed) << from << " -> " << to;
}

TEST(HostileServer, AnswersKeptInMemoryAreBounded) {
    LoopbackServer server;
    foundation::httpclient::CurlHttpClientOptions options;
    options.maxResponseBytes = 4096;
    CurlHttpClient client({}, options);
    server.addFile("fits", std::string(4096, 'x'));
    server.addFile("over", std::string(4097, 'x'));
    foundation::httpclient_core::HttpRequest request;
    request.url = server.fileUrl("fits");
    EXPECT_NO_THROW(client.send(request));
    request.url = server.fileUrl("over");
    const auto error = thrown<HttpError>([&] { client.send(request); });
    EXPECT_TRUE(error && error->kind() == HttpError::Kind::TOO_LARGE);
}

TEST(HostileServer, TheDocumentComesSecurelyAndNamesADigest) {
    // No trusted key: signatures are SignedDocument's.
    const TempDirectory keyless;
    const ScopedVariable root("QB_INSTALL_ROOT", keyless.path().string());
    const std::string digest(64, 'a');
    // Maker's base URL, archive URL, whether the document names a digest, accepted, requests.
    const std::tuple<const char*, const char*, bool, bool, int> cases[] = {
        {"https://maker.example", "https://cdn.example/kci.zip", true, true, 1},
        {"https://maker.example", "https://cdn.example/kci.zip", false, false, 1},
        {"https://127.0.0.1", "https://cdn.example/kci.zip", false, false, 1},
        {"http://127.0.0.1:1", "http://127.0.0.1:1/kci.zip", false, true, 1},
        {"http://localhost:1", "https://cdn.example/kci.zip", true, true, 1},
        {"http://maker.example", "https://cdn.example/kci.zip", true, false, 0},
        {"http://10.0.0.1", "https://cdn.example/kci.zip", true, false, 0}};
    for (const auto& [base, archive, withDigest, accepted, requests] : cases) {
        SCOPED_TRACE(std::string(base) + " " + archive);
        auto client = std::make_shared<ScriptedHttpClient>();
        client->response.body =
            latestDocument("1", archive, withDigest ? std::optional(digest) : std::nullopt);
        LatestVersionChecker checker(client, std::make_shared<FixedUrlManager>(base));
        if (accepted)
            EXPECT_EQ(checker.getLatestKCIUrl().first, "1");
        else
            EXPECT_THROW(checker.getLatestKCIUrl(), LatestVersionError);
        EXPECT_EQ(client->urls.size(), static_cast<std::size_t>(requests));
    }
}

TEST(DeepArchive, NestingBeyondTheLimitIsRefusedAndLeavesNothingEvenWithFewDescriptors) {
    inOwnProcess([] {
        const struct rlimit few { 64, 64 };
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
        const TempDirectory scratch;
        const fs::path archive = scratch / "kci.zip", extracted = scratch / "kci.extracted";
        for (const auto& [levels, accepted] : {std::pair{255, true}, {256, false}, {2000, false}}) {
            std::string nested;
            for (int i = 0; i < levels; ++i)
                nested += "a/";
            writeKciArchive(archive, "1", "bin/setup",
                            {{"bin/setup", "#!/bin/sh\n", true}, {nested + "f", "x", false}});
            const auto path = fl::filesystem::path_from_native(archive);
            if (accepted) {
                EXPECT_FALSE(extractKCI(path).empty()) << levels;
                EXPECT_EQ(modeOf(extracted / (nested + "f")), 0600u);
            } else {
                EXPECT_THROW(extractKCI(path), KCIExtractionError) << levels;
                EXPECT_FALSE(fs::exists(extracted)) << levels;
            }
        }
    });
}

struct SignedDocument : testing::Test {
    TempDirectory root;
    LoopbackServer server;
    ScopedVariable installRoot{"QB_INSTALL_ROOT", root.path().string()};
    ScopedVariable base{"QB_URL_QUILLBECK_DOT_COM", server.baseUrl()};
    const std::string document =
        latestDocument("1.2.3.4", server.fileUrl("kci.zip"), std::string(64, 'a'));

    fs::path keys() const { return root / "etc/tripwire/trusted-keys"; }
    void trust(const std::string& name, const std::string& publicKeyFile) {
        writeFile(keys() / name, publicKeyFile);
        fs::permissions(keys(), static_cast<fs::perms>(0755));
    }
    // Empty when the checker takes the document, else why it refused it.
    std::string refusal() {
        LatestVersionChecker checker(std::make_shared<CurlHttpClient>(),
                                     foundation::urlmanager::createUrlManager());
        try {
            EXPECT_EQ(checker.getLatestKCIUrl().first, "1.2.3.4");
        } catch (const halvexconnector::latestversion::checker::DocumentSignatureError& error) {
            return error.what();
        }
        return {};
    }
    std::size_t signatureRequests() const {
        const auto seen = server.requests();
        return std::count_if(seen.begin(), seen.end(), [](const RecordedRequest& request) {
            return request.path == LoopbackServer::SIGNATURE_PATH;
        });
    }
};
TEST_F(SignedDocument, OnlyAnUntouchedDocumentSignedByATrustedKeyPasses) {
    const MinisignKey ours = makeMinisignKey(), theirs = makeMinisignKey();
    const std::string signedByUs = minisignSignature(ours, document, "release 1.2.3.4");
    std::string otherComment = signedByUs;
    otherComment.replace(otherComment.find("release"), 7, "RELEASE");
    std::string changedByte = document;
    changedByte[changedByte.find("1.2.3.4")] = '9';
    const struct {
        const char* name;
        std::vector<const MinisignKey*> trusted;
        std::string served;
        std::optional<std::string> signature;
        std::string refusal;
        bool fetchesSignature;
    } cases[] = {
        {"signed by the trusted key", {&ours}, document, signedByUs, "", true},
        {"either of two trusted keys", {&theirs, &ours}, document, signedByUs, "", true},
        {"another key", {&theirs}, document, signedByUs, "which is not trusted", true},
        {"one changed byte", {&ours}, changedByte, signedByUs, "does not match the document", true},
        {"altered trusted comment", {&ours}, document, otherComment, "has been altered", true},
        {"no signature", {&ours}, document, std::nullopt, "it is not signed", true},
        {"not a signature", {&ours}, document, "garbage\n", "not a minisign signature", true},
        {"no trusted key: as before", {}, document, std::nullopt, "", false}};
    for (const auto& c : cases) {
        fs::remove_all(keys());
        for (const MinisignKey* key : c.trusted)
            trust(std::to_string(key == &ours) + ".pub", minisignPublicKeyFile(*key));
        server.setLatestDocument(c.served);
        server.setLatestSignature(c.signature);
        const std::size_t before = signatureRequests();
        if (c.refusal.empty())
            EXPECT_EQ(refusal(), "") << c.name;
        else
            EXPECT_THAT(refusal(), testing::HasSubstr(c.refusal)) << c.name;
        EXPECT_EQ(signatureRequests() - before, c.fetchesSignature ? 1u : 0u) << c.name;
    }

    // A folder that others may write, or a key file that is a link, is no trust anchor.
    trust("ours.pub", minisignPublicKeyFile(ours));
    fs::permissions(keys(), fs::perms::others_write, fs::perm_options::add);
    EXPECT_EQ(refusal(), "") << "the writable folder was not ignored";
    fs::remove_all(keys());
    trust("real.key", minisignPublicKeyFile(ours));
    fs::create_symlink(keys() / "real.key", keys() / "link.pub");
    EXPECT_EQ(refusal(), "") << "the link was followed";
}

TEST_F(SignedDocument, WhatTheMinisignProgramSignsVerifies) {
    const ProgramRun found = runProgram({"/bin/sh", "-c", "command -v minisign"});
    if (found.status != 0)
        GTEST_SKIP() << "minisign is not installed (scripts/install-deps.sh installs it)";
    const std::string minisign = found.out.substr(0, found.out.find('\n'));
    const std::string key = root / "m.key", file = root / "latest.json";
    ASSERT_EQ(runProgram({minisign, "-G", "-W", "-p", root / "m.pub", "-s", key}).status, 0);
    writeFile(file, document);
    trust("m.pub", readFile(root / "m.pub"));
    server.setLatestDocument(document);
    for (const bool legacy : {false, true}) {
        std::vector<std::string> sign{minisign, "-S", "-s", key, "-m", file, "-t", "signed"};
        if (legacy)
            sign.push_back("-l");
        ASSERT_EQ(runProgram(sign).status, 0);
        server.setLatestSignature(readFile(root / "latest.json.minisig"));
        EXPECT_EQ(refusal(), "") << (legacy ? "legacy Ed" : "ED");
    }
}

} // namespace
