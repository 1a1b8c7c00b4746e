#include "UpdateTestSupport.h"

#include "../shell/MainWindowTestSupport.h"
#include "ChildProcess.h"
#include "shell/app/AppSettings.h"
#include "shell/LocalizedText.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using State = SoftwareUpdateController::State;

namespace {
const QByteArray image = QByteArray("installer image ") + QByteArray(40000, 'i');
const QByteArray imagePath = "/tessyn/downloads/Tessyn-1.4.0.dmg";

QByteArray manifestJson(const UpdateManifest& manifest) { return QByteArray::fromStdString(manifest.encode()); }

// A manifest document padded with an ignored key to exactly `size` bytes.
QByteArray padded(const UpdateManifest& manifest, qsizetype size)
{
    QByteArray json = manifestJson(manifest);
    json.chop(1);
    json += ",\"pad\":\"\"}";
    json.insert(json.size() - 2, QByteArray(size - json.size(), ' '));
    return json;
}
} // namespace

class SoftwareUpdateControllerTest : public UpdateFixture {};

TEST_F(SoftwareUpdateControllerTest, CheckEndsInOneStateForEachAnswer)
{
    // `on` holds the base; `other` has a certificate nobody trusts; `plain` speaks http.
    struct Servers {
        UpdateTestServer on, other, plain;
    };
    auto serveAt = [&](Servers& s, UpdateTestServer& at, int status) {
        at.answer("/moved.json", TestAnswer::ok(manifestJson(publish(s.on, image))));
        s.on.answer(manifestPath, TestAnswer::redirect(status, at.origin().toUtf8() + "/moved.json"));
    };
    struct Case {
        const char* name;
        std::function<void(Servers&)> serve;
        State expected;
        QString running = "1.0.0";
    };
    TestAnswer notGzip = TestAnswer::stalled("not gzip", 4);
    notGzip.encoding = "gzip";
    const std::vector<Case> cases = {
        {"newer version", [&](Servers& s) { publish(s.on, image); }, State::available},
        {"same version", [&](Servers& s) { publish(s.on, image, "1.0.0"); }, State::current},
        {"older version", [&](Servers& s) { publish(s.on, image, "0.9.9"); }, State::current},
        {"running version not N.N.N", [&](Servers& s) { publish(s.on, image); }, State::current, "1.0.0-dev"},
        {"status 404", [&](Servers&) {}, State::failed},
        {"status 500", [&](Servers& s) { s.on.answer(manifestPath, TestAnswer::ok(manifestJson(publish(s.on, image)), 500)); },
         State::failed},
        {"bad JSON", [&](Servers& s) { s.on.answer(manifestPath, TestAnswer::ok("{\"schema\": 1,")); }, State::failed},
        {"missing key",
         [&](Servers& s) {
             s.on.answer(manifestPath, TestAnswer::ok(manifestJson(publish(s.on, image)).replace("\"bytes\"", "\"size\"")));
         },
         State::failed},
        {"16383 bytes", [&](Servers& s) { s.on.answer(manifestPath, TestAnswer::ok(padded(publish(s.on, image), 16383))); },
         State::available},
        {"16384 bytes", [&](Servers& s) { s.on.answer(manifestPath, TestAnswer::ok(padded(publish(s.on, image), 16384))); },
         State::failed},
        {"endless body", [&](Servers& s) { s.on.answer(manifestPath, TestAnswer::endless(64 << 20)); }, State::failed},
        {"a body that is not gzip, the connection kept", [&](Servers& s) { s.on.answer(manifestPath, notGzip); }, State::failed},
        {"image outside the base",
         [&](Servers& s) {
             UpdateManifest manifest = publish(s.on, image);
             manifest.url = s.on.base().toStdString() + "../Tessyn-1.4.0.dmg";
             s.on.answer(manifestPath, TestAnswer::ok(manifestJson(manifest)));
         },
         State::failed},
        {"redirect on the base's host", [&](Servers& s) { serveAt(s, s.on, 302); }, State::available},
        {"redirect to another host",
         [&](Servers& s) {
             s.on.answer("/moved.json", TestAnswer::ok(manifestJson(publish(s.on, image))));
             s.on.answer(manifestPath, TestAnswer::redirect(302, s.on.origin("localhost").toUtf8() + "/moved.json"));
         },
         State::failed},
        {"redirect to http", [&](Servers& s) { serveAt(s, s.plain, 301); }, State::failed},
        {"untrusted certificate", [&](Servers& s) { serveAt(s, s.other, 302); }, State::failed},
    };
    const TestCertificate stranger = TestCertificate::make();
    for (const Case& item : cases) {
        Servers s{UpdateTestServer(&certificate()), UpdateTestServer(&stranger), UpdateTestServer(nullptr)};
        item.serve(s);
        auto controller = controllerFor(s.on, [&](auto& environment) { environment.runningVersion = item.running; });
        QFuture<void> done = controller->check();
        EXPECT_EQ(controller->state(), State::checking) << item.name;
        ASSERT_TRUE(finish(done, 4000)) << item.name << ": before Qt's own timeout";
        EXPECT_EQ(controller->state(), item.expected) << item.name;
        EXPECT_EQ(controller->manifest().has_value(), item.expected != State::failed) << item.name;
        ASSERT_FALSE(s.on.requests().isEmpty()) << item.name;
        EXPECT_EQ(s.on.requests().front().userAgent, "Tessyn/" + item.running.toUtf8()) << item.name;
        EXPECT_EQ(s.on.requests().front().accept, "application/json") << item.name;
        EXPECT_LT(s.on.fillerSent(manifestPath), 64 << 20) << item.name << ": reading stops at the limit";
        EXPECT_TRUE(s.plain.requests().isEmpty()) << item.name << ": no plain-text hop";
        if (QByteArray(item.name) == "redirect to another host") {
            EXPECT_EQ(s.on.requests().back().host, "localhost:" + QByteArray::number(s.on.port())) << "it answered";
        }
        // Only a newer version can be downloaded.
        const qsizetype asked = s.on.requests().size();
        EXPECT_EQ(controller->download().isFinished(), item.expected != State::available) << item.name;
        if (item.expected != State::available) {
            EXPECT_EQ(s.on.requests().size(), asked) << item.name;
        }
    }
}

TEST_F(SoftwareUpdateControllerTest, DownloadStoresOnlyAVerifiedImage)
{
    QByteArray changed = image;
    changed[100] = 'X';
    struct Case {
        const char* name;
        std::function<void(UpdateTestServer& on, UpdateTestServer& plain)> serve;
        State expected;
    };
    const std::vector<Case> cases = {
        {"correct image", [](auto&, auto&) {}, State::ready},
        {"one byte short", [&](auto& on, auto&) { on.answer(imagePath, TestAnswer::ok(image.chopped(1))); }, State::failed},
        {"one byte changed", [&](auto& on, auto&) { on.answer(imagePath, TestAnswer::ok(changed)); }, State::failed},
        {"one byte more", [&](auto& on, auto&) { on.answer(imagePath, TestAnswer::ok(image + "!")); }, State::failed},
        {"endless body without a length",
         [&](auto& on, auto&) { on.answer(imagePath, TestAnswer::endless(64 << 20)); }, State::failed},
        {"status 404", [&](auto& on, auto&) { on.answer(imagePath, TestAnswer::ok(image, 404)); }, State::failed},
        {"stalled", [&](auto& on, auto&) { on.answer(imagePath, TestAnswer::stalled(image, 1000)); }, State::failed},
        {"redirect inside the base",
         [&](auto& on, auto&) {
             on.answer("/tessyn/downloads/mirror/T.dmg", TestAnswer::ok(image));
             on.answer(imagePath, TestAnswer::redirect(302, on.base().toUtf8() + "mirror/T.dmg"));
         },
         State::ready},
        {"redirect outside the base",
         [&](auto& on, auto&) {
             on.answer("/elsewhere/T.dmg", TestAnswer::ok(image));
             on.answer(imagePath, TestAnswer::redirect(302, on.origin().toUtf8() + "/elsewhere/T.dmg"));
         },
         State::failed},
        {"redirect to http",
         [&](auto& on, auto& plain) {
             plain.answer(imagePath, TestAnswer::ok(image));
             on.answer(imagePath, TestAnswer::redirect(302, plain.origin().toUtf8() + imagePath));
         },
         State::failed},
    };
    for (const Case& item : cases) {
        UpdateTestServer on(&certificate()), plain(nullptr);
        publish(on, image);
        item.serve(on, plain);
        auto controller = controllerFor(on, [](auto& environment) { environment.downloadTimeoutMs = 300; });
        ASSERT_TRUE(finish(controller->check())) << item.name;
        ASSERT_EQ(controller->state(), State::available) << item.name;
        QFuture<void> done = controller->download();
        EXPECT_EQ(controller->state(), State::downloading) << item.name;
        ASSERT_TRUE(finish(done)) << item.name;
        EXPECT_EQ(controller->state(), item.expected) << item.name;
        const bool ready = item.expected == State::ready;
        EXPECT_EQ(controller->installer(), ready ? updates() + "/Tessyn-1.4.0.dmg" : QString()) << item.name;
        EXPECT_EQ(leftovers(), ready ? QStringList{"Tessyn-1.4.0.dmg"} : QStringList{}) << item.name << ": no temporary file";
        EXPECT_EQ(QFileInfo::exists(updates()), ready) << item.name << ": the folder is made for a verified image only";
        if (ready) {
            EXPECT_EQ(stored(controller->installer()), image) << item.name;
        }
        EXPECT_EQ(on.requests().back().userAgent, "Tessyn/1.0.0");
        EXPECT_LT(on.fillerSent(imagePath), 64 << 20) << item.name << ": reading stops at the declared size";
        EXPECT_TRUE(plain.requests().isEmpty()) << item.name;
        QDir(updates()).removeRecursively();
    }
}

TEST_F(SoftwareUpdateControllerTest, RedirectLeavingTheBaseIsRefusedBeforeItIsFollowed)
{
    // Each hop is relative to the base. The server hands out the image on every path it is
    // asked for, the places it resolves these hops to included, so only the controller's
    // refusal keeps the image out.
    struct Case {
        const char* name;
        QByteArray hop;
        State expected = State::failed;
    };
    const std::vector<Case> cases = {
        {"redirect to an encoded parent", "%2E%2E/%2E%2E/Tessyn-1.4.0.dmg"},
        {"encoded parent in lower case", "%2e%2e/%2e%2e/Tessyn-1.4.0.dmg"},
        {"half-encoded parents", ".%2e/%2E./Tessyn-1.4.0.dmg"},
        {"encoded parents below a folder", "mirror/%2E%2E/%2E%2E/%2E%2E/Tessyn-1.4.0.dmg"},
        {"plain parents", "../../Tessyn-1.4.0.dmg"},
        {"encoded slashes", "..%2F..%2FTessyn-1.4.0.dmg"},
        {"encoded slashes in lower case", "..%2f..%2fTessyn-1.4.0.dmg"},
        {"encoded backslashes", "..%5C..%5CTessyn-1.4.0.dmg"},
        {"encoded backslashes in lower case", "..%5c..%5cTessyn-1.4.0.dmg"},
        {"backslashes", "..\\..\\Tessyn-1.4.0.dmg"},
        {"parents with path parameters", "..;/..;/Tessyn-1.4.0.dmg"},
        {"parents with named path parameters", "mirror/..;v=1/.%2E;/..;x/Tessyn-1.4.0.dmg"},
        {"a folder inside the base", "mirror/Tessyn-1.4.0.dmg", State::ready},
    };
    for (const Case& item : cases) {
        UpdateTestServer on(&certificate());
        publish(on, image);
        on.answerElsewhere(TestAnswer::ok(image));
        on.answer(imagePath, TestAnswer::redirect(302, on.base().toUtf8() + item.hop));
        auto controller = controllerFor(on);
        ASSERT_TRUE(finish(controller->check())) << item.name;
        ASSERT_TRUE(finish(controller->download())) << item.name;
        const bool ready = item.expected == State::ready;
        EXPECT_EQ(controller->state(), item.expected) << item.name;
        EXPECT_EQ(on.requests().size(), ready ? 3 : 2) << item.name << ": a refused hop is never asked";
        EXPECT_EQ(leftovers(), ready ? QStringList{"Tessyn-1.4.0.dmg"} : QStringList{}) << item.name;
        EXPECT_EQ(QFileInfo::exists(updates()), ready) << item.name;
        QDir(updates()).removeRecursively();
    }
}

TEST_F(SoftwareUpdateControllerTest, RedirectChainsAreFollowedOneRequestPerHop)
{
    // Each case chains `hops` redirects on the base's host, from `first` to the place that answers.
    struct Case {
        const char* name;
        QByteArray first;  // the request the chain starts at
        int hops;
        QByteArray last;   // where the last hop points, relative to the base; empty: the answer
        State expected;
    };
    const std::vector<Case> cases = {
        {"manifest, two hops", manifestPath, 2, {}, State::available},
        {"manifest, four hops", manifestPath, 4, {}, State::available},
        {"image, two hops", imagePath, 2, {}, State::ready},
        {"image, four hops", imagePath, 4, {}, State::ready},
        {"image, three hops then out of the base", imagePath, 3, "mirror/%2E%2E/%2E%2E/%2E%2E/Tessyn-1.4.0.dmg", State::failed},
        {"image, a loop", imagePath, 1, "Tessyn-1.4.0.dmg", State::failed},
    };
    for (const Case& item : cases) {
        UpdateTestServer on(&certificate());
        const UpdateManifest manifest = publish(on, image);
        on.answerElsewhere(TestAnswer::ok(image));
        QByteArray from = item.first;
        for (int hop = 1; hop <= item.hops; ++hop) {
            const QByteArray to = "/tessyn/downloads/hop" + QByteArray::number(hop) + "/T.dmg";
            const QByteArray location = hop == item.hops && !item.last.isEmpty() ? on.base().toUtf8() + item.last
                                                                                 : on.origin().toUtf8() + to;
            on.answer(from, TestAnswer::redirect(hop % 2 ? 302 : 307, location));
            from = to;
        }
        if (item.last.isEmpty())
            on.answer(from, TestAnswer::ok(item.first == manifestPath ? manifestJson(manifest) : image));
        auto controller = controllerFor(on);
        ASSERT_TRUE(finish(controller->check())) << item.name;
        if (item.first == imagePath) {
            ASSERT_EQ(controller->state(), State::available) << item.name;
            ASSERT_TRUE(finish(controller->download())) << item.name;
        }
        EXPECT_EQ(controller->state(), item.expected) << item.name;
        QHash<QByteArray, int> asked;
        for (const auto& request : on.requests()) ++asked[request.path];
        for (auto it = asked.cbegin(); it != asked.cend(); ++it) {
            if (QByteArray(item.name) != "image, a loop") {
                EXPECT_EQ(it.value(), 1) << item.name << ": " << it.key().constData();
            }
        }
        EXPECT_LE(on.requests().size(), 2 + 20 + 1) << item.name << ": a loop ends after 20 hops";
        EXPECT_EQ(leftovers(), item.expected == State::ready ? QStringList{"Tessyn-1.4.0.dmg"} : QStringList{}) << item.name;
        if (item.expected == State::ready) {
            EXPECT_EQ(stored(controller->installer()), image) << item.name;
        }
        QDir(updates()).removeRecursively();
    }
}

TEST_F(SoftwareUpdateControllerTest, SameVersionTwiceReplacesTheImageAndNeverLosesIt)
{
    auto controller = controllerFor(server);
    const QString destination = updates() + "/Tessyn-1.4.0.dmg";
    for (const QByteArray& content : {image, QByteArray("a rebuilt image of the same version")}) {
        publish(server, content);
        ASSERT_TRUE(finish(controller->check()));
        ASSERT_TRUE(finish(controller->download()));
        EXPECT_EQ(controller->state(), State::ready);
        EXPECT_EQ(stored(destination), content);
        EXPECT_EQ(leftovers(), QStringList{"Tessyn-1.4.0.dmg"});
    }

    // Something that cannot be replaced by a rename stands in the image's place: it stays.
    ASSERT_TRUE(QFile::remove(destination));
    writeFile(localPath(destination + "/keep.txt"), "kept");
    publish(server, image);
    ASSERT_TRUE(finish(controller->check()));
    ASSERT_TRUE(finish(controller->download()));
    EXPECT_EQ(controller->state(), State::failed);
    EXPECT_EQ(readFile(localPath(destination + "/keep.txt")), "kept");
    EXPECT_EQ(leftovers(), QStringList{"Tessyn-1.4.0.dmg"});
}

TEST_F(SoftwareUpdateControllerTest, OpenInstallerVerifiesTheStoredImageFirst)
{
    publish(server, image);
    auto controller = controllerFor(server);
    auto downloaded = [&] {
        ASSERT_TRUE(finish(controller->check()));
        controller->openInstaller();
        EXPECT_TRUE(opened.isEmpty()) << "nothing to open before a download";
        ASSERT_TRUE(finish(controller->download()));
        ASSERT_EQ(controller->state(), State::ready);
    };
    downloaded();
    controller->openInstaller();
    EXPECT_EQ(opened, QStringList{controller->installer()});
    EXPECT_EQ(controller->state(), State::ready);

    openSucceeds = false;
    controller->openInstaller();
    EXPECT_EQ(controller->state(), State::failed) << "the desktop could not open it";
    openSucceeds = true;

    const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> tampered = {
        {"one byte changed", [](const std::string& path) {
             QByteArray bytes = image;
             bytes[7] = '?';
             writeFile(path, bytes.toStdString());
         }},
        {"a link to a good copy", [this](const std::string& path) {
             const std::string copy = writeFile(localPath(scratch.path() + "/copy.dmg"), image.toStdString());
             ::unlink(path.c_str());
             ASSERT_EQ(::symlink(copy.c_str(), path.c_str()), 0);
         }},
        {"removed", [](const std::string& path) { ::unlink(path.c_str()); }},
    };
    for (const auto& [name, tamper] : tampered) {
        opened.clear();
        downloaded();
        tamper(localPath(controller->installer()));
        controller->openInstaller();
        EXPECT_EQ(controller->state(), State::failed) << name;
        EXPECT_TRUE(opened.isEmpty()) << name;
    }

    downloaded();
    QFuture<void> again = controller->check();
    EXPECT_TRUE(controller->installer().isEmpty()) << "a new check clears the installer at once";
    EXPECT_FALSE(controller->manifest().has_value());
    opened.clear();
    controller->openInstaller();
    EXPECT_TRUE(opened.isEmpty());
    ASSERT_TRUE(finish(again));
}

TEST_F(SoftwareUpdateControllerTest, BusyControllerRefusesAndTheMenuReportsWhatRuns)
{
    setSetting(AppSettings::languageKey, "zh-Hans");
    const UpdateManifest manifest = publish(server, image);
    // The manifest request hangs until its timeout.
    server.answer(manifestPath, TestAnswer::stalled(manifestJson(manifest), 10));
    auto controller = controllerFor(server, [](auto& environment) {
        environment.checkTimeoutMs = 400;
        environment.downloadTimeoutMs = 400;
    });
    EXPECT_TRUE(finish(controller->download())) << "no manifest: refused at once";
    EXPECT_EQ(controller->state(), State::idle);

    QFuture<void> checking = controller->check();
    EXPECT_TRUE(controller->check().isFinished()) << "a second check returns at once";
    EXPECT_TRUE(controller->download().isFinished());
    EXPECT_EQ(controller->state(), State::checking);
    ASSERT_TRUE(finish(controller->checkFromMenu()));
    EXPECT_EQ(alerts, QStringList{"软件更新|正在检查更新…"});
    ASSERT_TRUE(finish(checking));
    EXPECT_EQ(controller->state(), State::failed) << "the silent request timed out";
    EXPECT_EQ(server.requests().size(), 1);

    server.answer(manifestPath, TestAnswer::ok(manifestJson(manifest)));
    server.answer(imagePath, TestAnswer::stalled(image, 10));
    alerts.clear();
    ASSERT_TRUE(finish(controller->checkFromMenu()));
    EXPECT_EQ(alerts, QStringList{"软件更新|发现新版本 1.4.0。"});
    QFuture<void> downloading = controller->download();
    EXPECT_TRUE(controller->download().isFinished());
    EXPECT_TRUE(controller->check().isFinished()) << "no check while a download runs";
    alerts.clear();
    ASSERT_TRUE(finish(controller->checkFromMenu()));
    EXPECT_EQ(alerts, QStringList{"软件更新|正在下载并校验安装包…"});
    ASSERT_TRUE(finish(downloading));
    EXPECT_EQ(controller->state(), State::failed);
    EXPECT_EQ(leftovers(), QStringList{});
}

namespace {
constexpr qint64 huge = qint64(1) << 32;

// Ways a hostile host holds a request while it keeps sending, so that neither silence nor a
// size limit ends it.
struct HeldAnswer {
    const char* name;
    std::function<TestAnswer(const QByteArray& content, const QByteArray& self)> answer;  // self: its own URL
    State expected = State::failed;
    bool unseen = false;  // all it sends Qt keeps to itself: only the answer timeout sees it
};

std::vector<HeldAnswer> heldAnswers(int dripMs, int redirectDripMs)
{
    using Filler = TestAnswer::Filler;
    return {
        {"a body dripping", [=](auto& content, auto&) { return TestAnswer::dripping(content, dripMs); }},
        {"a head dripping", [=](auto&, auto&) { return TestAnswer::slowHead(dripMs); }, State::failed, true},
        {"header lines without end", [](auto&, auto&) { return TestAnswer::endless(huge, Filler::headers); }, State::failed, true},
        {"a chunk size line without end", [](auto&, auto&) { return TestAnswer::endless(huge, Filler::chunkSize); },
         State::failed, true},
        {"redirects to itself, each head dripping", [=](auto&, auto& self) { return TestAnswer::slowHead(redirectDripMs, self); }},
    };
}

void serve(UpdateTestServer& on, const HeldAnswer& item, const QByteArray& path, const QByteArray& content)
{
    on.answer(path, item.answer(content, on.origin().toUtf8() + path));
}
} // namespace

TEST_F(SoftwareUpdateControllerTest, CheckEndsByItsDeadlineHoweverTheHostHoldsIt)
{
    // Each case can be ended only by one limit: the whole check's, or, where the host sends
    // only what Qt keeps to itself, each request's.
    constexpr int deadline = 1000;
    std::vector<HeldAnswer> cases = heldAnswers(50, 5);
    cases.push_back({"the manifest after a 300 ms pause", [](auto& content, auto&) { return TestAnswer::paused(content, 300); },
                     State::available});
    cases.push_back({"the manifest in two chunks 300 ms apart",
                     [](auto& content, auto&) { return TestAnswer::paused(content, 300, true); }, State::available});
    UpdateTestServer noTls(nullptr);
    cases.push_back({"a handshake that never ends", {}, State::failed, true});
    for (const HeldAnswer& item : cases) {
        SCOPED_TRACE(item.name);
        UpdateTestServer on(&certificate());
        if (item.answer) serve(on, item, manifestPath, manifestJson(publish(on, image)));
        auto controller = controllerFor(on, [&](SoftwareUpdateEnvironment& environment) {
            environment.checkTimeoutMs = 60000;
            environment.answerTimeoutMs = item.unseen ? deadline : 60000;
            environment.checkDeadlineMs = item.unseen ? 60000 : deadline;
            if (!item.answer) environment.base = "https://127.0.0.1:" + QString::number(noTls.port()) + "/tessyn/downloads/";
        });
        ASSERT_TRUE(finish(controller->check(), deadline + 2500)) << "still " << int(controller->state());
        EXPECT_EQ(controller->state(), item.expected);
        if (item.answer && item.expected == State::failed) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return on.hungUp(manifestPath) > 0; })) << "the host is hung up on";
        }
        if (!item.answer) {  // hung up on, and the next check connects anew
            ASSERT_TRUE(finish(controller->check(), deadline + 2500));
            EXPECT_TRUE(QTest::qWaitFor([&] { return noTls.hungUp({}) == 2; })) << "each connection hung up on";
        }
    }
}

TEST_F(SoftwareUpdateControllerTest, DownloadEndsByItsDeadlinesHoweverTheHostHoldsIt)
{
    // 300 ms plus the image at 20000 bytes a second: 2.3 s. Where the host sends only what Qt
    // keeps to itself, the download is given a minute, so only the answer timeout (1 s) ends it.
    ASSERT_EQ(image.size(), 40016);
    constexpr int deadline = 300 + 40016 * 1000 / 20000;
    std::vector<HeldAnswer> cases = heldAnswers(20, 3);
    cases.push_back({"two halves 800 ms apart: slower than the grace alone, faster than the floor",
                     [](auto& content, auto&) { return TestAnswer::paused(content, 800); }, State::ready});
    cases.push_back({"three chunks 600 ms apart: each within the answer timeout, all beyond it",
                     [](auto& content, auto&) { return TestAnswer::paused(content, 600, true, 3); }, State::ready});
    for (const HeldAnswer& item : cases) {
        SCOPED_TRACE(item.name);
        UpdateTestServer on(&certificate());
        publish(on, image);
        serve(on, item, imagePath, image);
        auto controller = controllerFor(on, [&](SoftwareUpdateEnvironment& environment) {
            environment.downloadTimeoutMs = 60000;
            environment.answerTimeoutMs = 1000;
            environment.downloadDeadlineMs = item.unseen ? 60000 : 300;
            environment.downloadMinimumRate = 20000;
        });
        ASSERT_TRUE(finish(controller->check()));
        ASSERT_EQ(controller->state(), State::available);
        ASSERT_TRUE(finish(controller->download(), deadline + 2500)) << "still " << int(controller->state());
        EXPECT_EQ(controller->state(), item.expected);
        const bool ready = item.expected == State::ready;
        EXPECT_EQ(leftovers(), ready ? QStringList{"Tessyn-1.4.0.dmg"} : QStringList{});
        if (ready) {
            EXPECT_EQ(stored(controller->installer()), image);
        } else {
            EXPECT_TRUE(QTest::qWaitFor([&] { return on.hungUp(imagePath) > 0; })) << "the host is hung up on";
        }
        QDir(updates()).removeRecursively();
    }
}

// A connection left open goes on reading into memory after the state says failed.
TEST_F(SoftwareUpdateControllerTest, ARequestEndedEarlyClosesItsConnection)
{
    TestAnswer oversized = TestAnswer::endless(huge);
    oversized.announceLength = true;
    struct Case {
        const char* name;
        QByteArray path;
        TestAnswer answer;
    } cases[] = {
        {"manifest gone silent", manifestPath, TestAnswer::stalled("{\"schema\": 1}", 1)},
        {"manifest past its limit", manifestPath, TestAnswer::endless(huge)},
        {"manifest announced past its limit", manifestPath, oversized},
        {"image gone silent", imagePath, TestAnswer::stalled(image, 1000)},
        {"image past its size", imagePath, TestAnswer::endless(huge)},
        {"image announced past its size", imagePath, oversized},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        UpdateTestServer on(&certificate());
        publish(on, image);
        on.answer(item.path, item.answer);
        auto controller = controllerFor(on, [](SoftwareUpdateEnvironment& environment) {
            environment.checkTimeoutMs = 300;
            environment.downloadTimeoutMs = 300;
        });
        ASSERT_TRUE(finish(controller->check()));
        if (item.path == imagePath) {
            ASSERT_EQ(controller->state(), State::available);
            ASSERT_TRUE(finish(controller->download()));
        }
        EXPECT_EQ(controller->state(), State::failed);
        EXPECT_TRUE(QTest::qWaitFor([&] { return on.hungUp(item.path) == 1; })) << "still connected";
    }
}

// Dropping a failed request's connections must not cut the next request, even one asked as the
// failure is shown.
TEST_F(SoftwareUpdateControllerTest, ACheckAskedAsAFailureIsShownReachesTheHost)
{
    const UpdateManifest manifest = publish(server, image);
    server.answer(manifestPath, TestAnswer::ok("gone", 404));
    auto controller = controllerFor(server, [](SoftwareUpdateEnvironment& environment) { environment.checkDeadlineMs = 3000; });
    QFuture<void> again;
    QObject::connect(controller.get(), &SoftwareUpdateController::stateChanged, controller.get(), [&] {
        if (controller->state() != State::failed || again.isValid()) return;
        server.answer(manifestPath, TestAnswer::ok(manifestJson(manifest)));
        again = controller->check();
    });
    ASSERT_TRUE(finish(controller->check()));
    ASSERT_TRUE(finish(again));
    EXPECT_EQ(controller->state(), State::available);
    EXPECT_EQ(server.requests().size(), 2);
}

TEST_F(SoftwareUpdateControllerTest, OnlyHttpsIsEverAsked)
{
    TempHome home;
    EXPECT_EQ(SoftwareUpdateController::shared().downloadBase(), "https://updates.tessyn.invalid/tessyn/downloads/");
    SoftwareUpdateController shipped{SoftwareUpdateEnvironment{}};
    EXPECT_EQ(shipped.updatesFolder(), QString::fromStdString(home.dataHome()) + "/local.tessyn.preview/updates");
    ASSERT_TRUE(finish(shipped.check(), 2000));
    EXPECT_EQ(shipped.state(), State::failed) << "a name under .invalid is never looked up";

    UpdateTestServer plain(nullptr);
    publish(plain, image);
    auto controller = controllerFor(plain);
    ASSERT_TRUE(finish(controller->check()));
    EXPECT_EQ(controller->state(), State::failed);
    EXPECT_TRUE(plain.requests().isEmpty()) << "an http base is never asked";
}

TEST_F(SoftwareUpdateControllerTest, ControllerGoneMidDownloadLeavesNothingBehind)
{
    publish(server, image);
    server.answer(imagePath, TestAnswer::stalled(image, 20000));
    auto controller = controllerFor(server);
    ASSERT_TRUE(finish(controller->check()));
    QFuture<void> downloading = controller->download();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests().size() == 2; }));
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{})
        << "the image is written to a file without a name, and the updates folder waits for a verified one";
    controller.reset();
    EXPECT_TRUE(downloading.isFinished());
    EXPECT_FALSE(QFileInfo::exists(updates()));
}

namespace {
// Every file or folder under `root` whose name holds "Tessyn-", hidden ones included.
QStringList imageFilesUnder(const QString& root)
{
    QStringList found;
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        if (const QString path = walk.next(); walk.fileName().contains(QLatin1String("Tessyn-"))) found.append(path);
    return found;
}
} // namespace

TEST_F(SoftwareUpdateControllerTest, QuittingTheProgramMidDownloadLeavesNoFileBehind)
{
    const QString trusted = scratch.path() + "/trusted.pem";
    writeFile(localPath(trusted), certificate().certificate.toPem().toStdString());
    for (const std::string how : {"SIGTERM", "quit command"}) {
        TempHome home;
        UpdateTestServer on(&certificate());
        publish(on, image);
        on.answer(imagePath, TestAnswer::stalled(image, 20000));
        QProcess program;
        program.start(QString::fromStdString(fixturePath("ui_update_quit")), {on.base(), trusted});
        ASSERT_TRUE(QTest::qWaitFor([&] { return on.requests().size() == 2; }, 20000))
            << how << ": the image is being fetched";
        ASSERT_EQ(on.requests().back().path, imagePath);
        if (how == "SIGTERM") program.terminate();
        else program.write("quit\n");
        ASSERT_TRUE(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 20000)) << how;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << how;
        EXPECT_EQ(program.exitCode(), 0) << how << ": it quit through the shell, with no thread left running";
        EXPECT_EQ(imageFilesUnder(QString::fromStdString(home.root())), QStringList{}) << how;
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(home.dataHome()) + "/local.tessyn.preview/updates")) << how;
    }
}

// Threads still in OpenSSL as the program ends, as Qt's network thread can be after its manager
// was deleted, leave the exit clean: OpenSSL's own clean-up does not free their state under them.
TEST_F(SoftwareUpdateControllerTest, ThreadsStillInOpenSslAsTheProgramEndsLeaveItsExitClean)
{
    for (const char* mode : {"hashing", "ending"})
        for (int run = 0; run < 5; ++run) {
            QProcess program;
            program.start(QString::fromStdString(fixturePath("ui_tls_exit")), {mode});
            ASSERT_TRUE(program.waitForFinished(20000)) << mode;
            EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << mode << ", run " << run;
            EXPECT_EQ(program.exitCode(), 0) << mode << ", run " << run << ": " << program.readAllStandardError().toStdString();
        }
}

TEST_F(SoftwareUpdateControllerTest, AStartRemovesOnlyTheCopiesKilledRunsLeft)
{
    TempHome home;
    const std::string folder = home.dataHome() + "/local.tessyn.preview/updates";
    const std::string abandoned = writeFile(folder + "/.Tessyn-1.4.0.dmg.part-a1B2c3", "partial");
    const std::vector<std::string> kept = {
        writeFile(folder + "/Tessyn-1.4.0.dmg", "the stored image"),
        writeFile(folder + "/.Tessyn-1.4.0.dmg.part-a1B2c", "five letters"),
        writeFile(folder + "/.Tessyn-1.4.0.dmg.part-a1B2c3.txt", "a suffix"),
        writeFile(folder + "/.Tessyn-1.4.dmg.part-a1B2c3", "no version"),
        writeFile(folder + "/Tessyn-1.4.0.dmg.part-a1B2c3", "not hidden"),
        writeFile(home.dataHome() + "/local.tessyn.preview/.Tessyn-1.4.0.dmg.part-a1B2c3", "outside the folder"),
        writeFile(folder + "/.Tessyn-1.4.0.dmg.part-folder/inside", "a folder"),
        writeFile(home.dataHome() + "/linked.txt", "the target of a link"),
        folder + "/.Tessyn-1.4.0.dmg.part-Link01",
        folder + "/.Tessyn-1.4.0.dmg.part-Pipe01",
    };
    // A link and a pipe under a leftover's name: neither followed nor waited on.
    ASSERT_EQ(::symlink((home.dataHome() + "/linked.txt").c_str(), kept[kept.size() - 2].c_str()), 0);
    ASSERT_EQ(::mkfifo(kept.back().c_str(), 0600), 0);
    // A copy that a running Tessyn is storing is locked by it.
    const std::string held = writeFile(folder + "/.Tessyn-1.4.0.dmg.part-Held01", "being stored");
    const int holder = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    QProcess program;
    program.start(QStringLiteral(TESSYN_PROGRAM), {});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(QString::fromStdString(abandoned)); }, 20000))
        << "the copy of a killed run is removed at start";
    // The model's store folder is made after the sweep has ended.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(QString::fromStdString(home.dataHome() + "/Tessyn")); }, 20000));
    program.kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 20000));
    for (const std::string& path : kept) EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(path))) << path;
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(held))) << "a held copy stays";
    ::close(holder);
}

TEST_F(SoftwareUpdateControllerTest, StartChecksOnlyWhenAHostServesTheBase)
{
    {
        ShellHarness shell;
        ASSERT_TRUE(shell.openWindow());
        QCoreApplication::processEvents();
        EXPECT_EQ(SoftwareUpdateController::shared().state(), State::idle)
            << "the shipped base is a placeholder: the card stays idle";
    }
    SoftwareUpdateEnvironment shipped;
    shipped.alert = [this](const QString& title, const QString& text) { alerts.append(title + "|" + text); };
    SoftwareUpdateController placeholder(shipped);
    EXPECT_TRUE(placeholder.checkAtLaunch().isFinished());
    EXPECT_EQ(placeholder.state(), State::idle);
    ASSERT_TRUE(finish(placeholder.checkFromMenu()));
    EXPECT_EQ(placeholder.state(), State::failed) << "a check the user asks for reports what happened";
    EXPECT_EQ(alerts, QStringList{L("软件更新") + "|" + placeholder.status()});

    publish(server, image);
    auto served = controllerFor(server);
    QFuture<void> launched = served->checkAtLaunch();
    EXPECT_EQ(served->state(), State::checking);
    ASSERT_TRUE(finish(launched));
    EXPECT_EQ(served->state(), State::available);
    EXPECT_TRUE(served->checkAtLaunch().isFinished()) << "only from idle";
    EXPECT_EQ(server.requests().size(), 1);
}

TEST_F(SoftwareUpdateControllerTest, MenuCheckEndsInAModalAlertWithTheStatus)
{
    setSetting(AppSettings::languageKey, "zh-Hans");
    publish(server, image, "1.0.0");
    auto controller = controllerFor(server, [](auto& environment) { environment.alert = nullptr; });
    QString text, informative;
    QStringList buttons;
    Qt::WindowModality modality = Qt::NonModal;
    // Reads and closes the alert from inside its own event loop.
    std::function<void()> answer = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return QTimer::singleShot(10, answer);
        text = box->text();
        informative = box->informativeText();
        modality = box->windowModality();
        for (QAbstractButton* button : box->buttons()) buttons.append(button->text());
        if (const QString shots = qEnvironmentVariable("TESSYN_SHOTS_DIR"); !shots.isEmpty())
            box->grab().save(shots + "/menu-check-alert-zh.png");
        box->buttons().front()->click();
    };
    QTimer::singleShot(0, answer);
    ASSERT_TRUE(finish(controller->checkFromMenu()));
    EXPECT_EQ(text, "软件更新");
    EXPECT_EQ(informative, "已经是最新版本。");
    EXPECT_EQ(buttons, QStringList{"确定"});
    EXPECT_EQ(modality, Qt::ApplicationModal);
}
