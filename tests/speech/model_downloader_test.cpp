#include "runtime/Localization.h"
#include "speech/ModelDownloader.h"
#include "speech/ModelHosting.h"
#include "support/DiagLogLines.h"
#include "support/FakeClock.h"
#include "support/LoopbackHttpServer.h"

#include "support/AwaitTask.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>

using namespace murel;
using namespace std::chrono_literals;
using State = ModelDownloader::State;
using Route = test::LoopbackHttpServer::Route;

namespace {

// The plain sentences a user reads for the common network failures.
const QString kHostNotFound = QStringLiteral(
    "The download server couldn’t be reached. Check that this computer is connected to the internet, then try again.");
const QString kTimedOut =
    QStringLiteral("The download server stopped answering. Check the internet connection, then try again.");
const QString kRefused = QStringLiteral("The download server refused the connection. Try again later.");
const QString kFailed = QStringLiteral("  models  download failed  ");

class ModelDownloaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(installTranslations(*QCoreApplication::instance())); }

  test::LoopbackHttpServer server;
  test::FakeClock clock;
  QString dir = test::freshDir(QStringLiteral("models")) + QStringLiteral("/whisper");

  // A catalogue-style artifact; the downloader is pointed at the loopback server.
  static ModelArtifact artifact(const QString& name, qint64 size) {
    return {name, modelFileURL(QStringLiteral("owner/repo"), name), size};
  }
  static QString remotePath(const QString& name) { return QStringLiteral("/owner/repo/resolve/main/") + name; }
  void serve(const QString& name, Route route) { server.setRoute(remotePath(name), std::move(route)); }
  void serveGenerated(const QString& name, qint64 size) { serve(name, Route{200, {}, size, -1, -1}); }

  std::unique_ptr<ModelDownloader> makeDownloader(QList<ModelArtifact> artifacts, double resourceTimeout = 3600) {
    auto d = std::make_unique<ModelDownloader>(std::move(artifacts), dir, resourceTimeout, clock);
    d->setEndpoint(server.baseUrl());
    QObject::connect(d.get(), &ModelDownloader::stateChanged, [this, raw = d.get()] { states.append(raw->state()); });
    return d;
  }

  QString file(const QString& name) const { return dir + QLatin1Char('/') + name; }
  void place(const QString& name, qint64 size) {
    QDir().mkpath(dir);
    QFile f(file(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_TRUE(f.resize(size));
  }
  QStringList filesInDir() const { return QDir(dir).entryList(QDir::Files); }
  bool holdsPattern(const QString& name, qint64 size) const {
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) && f.readAll() == test::LoopbackHttpServer::pattern(size);
  }

  QList<State> states;
};

}  // namespace

TEST_F(ModelDownloaderTest, EverythingPresentCompletesWithoutARequest) {
  place(QStringLiteral("a.bin"), 300);
  place(QStringLiteral("b.bin"), 100);
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 300), artifact(QStringLiteral("b.bin"), 100)});
  EXPECT_EQ(d->state(), State::idle());
  const QStringList paths = test::awaitTask(d->download());
  EXPECT_EQ(paths, (QStringList{file(QStringLiteral("a.bin")), file(QStringLiteral("b.bin"))}));
  EXPECT_EQ(states, QList<State>{State::completed()});
  EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(ModelDownloaderTest, FetchesOnlyWhatIsMissingWithProgressInWholePercents) {
  place(QStringLiteral("a.bin"), 300'000);
  serveGenerated(QStringLiteral("b.bin"), 100'000);
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 300'000), artifact(QStringLiteral("b.bin"), 100'000)});
  const QStringList paths = test::awaitTask(d->download());

  EXPECT_EQ(paths, (QStringList{file(QStringLiteral("a.bin")), file(QStringLiteral("b.bin"))}));
  EXPECT_EQ(server.requests(), QStringList{remotePath(QStringLiteral("b.bin"))});
  EXPECT_TRUE(holdsPattern(QStringLiteral("b.bin"), 100'000));
  EXPECT_EQ(filesInDir(), (QStringList{QStringLiteral("a.bin"), QStringLiteral("b.bin")}));

  ASSERT_GE(states.size(), 3);
  EXPECT_EQ(states.first(), State::downloading(0.75));
  EXPECT_EQ(states.last(), State::completed());
  for (int i = 1; i + 1 < states.size(); ++i) {
    ASSERT_EQ(states[i].kind, State::Kind::Downloading);
    const double percent = states[i].progress * 100;
    EXPECT_NEAR(percent, std::round(percent), 1e-9);        // whole percents only
    EXPECT_GT(states[i].progress, states[i - 1].progress);  // notified only on change
    EXPECT_LE(states[i].progress, 1.0);
  }
  EXPECT_EQ(d->state(), State::completed());
}

TEST_F(ModelDownloaderTest, RefusedAnswersFailWithTheirStatusAndWriteNothing) {
  for (int status : {404, 500, 403}) {
    SCOPED_TRACE(status);
    states.clear();
    serve(QStringLiteral("a.bin"), Route{status, QByteArrayLiteral("no such file"), -1, -1, -1});
    auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 12)});
    try {
      test::awaitTask(d->download());
      FAIL() << "no error";
    } catch (const DownloadError& e) {
      EXPECT_EQ(e.kind(), DownloadError::Kind::Failed);
      EXPECT_EQ(e.statusCode(), status);
    }
    EXPECT_EQ(d->state(), State::failed(QStringLiteral("Model download failed (HTTP %1)").arg(status)));
    EXPECT_TRUE(filesInDir().isEmpty());
  }
}

TEST_F(ModelDownloaderTest, PartialContentWithTheWholeFileIsAccepted) {
  serve(QStringLiteral("a.bin"), Route{206, {}, 5000, -1, -1});
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 5000)});
  test::awaitTask(d->download());
  EXPECT_EQ(d->state(), State::completed());
  EXPECT_TRUE(holdsPattern(QStringLiteral("a.bin"), 5000));
}

TEST_F(ModelDownloaderTest, AFileOfTheWrongSizeIsRefusedAndLeavesNoPartial) {
  // One byte short, one byte long, and a body cut off before its declared length.
  const struct {
    const char* what;
    Route route;
    const char* error;
  } cases[] = {
      {"short", Route{200, {}, 9999, -1, -1}, "Downloaded model is incomplete"},
      {"long", Route{200, {}, 10001, -1, -1}, "Downloaded model is incomplete"},
      {"expected size 0 with a body", Route{200, {}, 10, -1, -1}, "Downloaded model is incomplete"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    states.clear();
    serve(QStringLiteral("a.bin"), c.route);
    const qint64 expected = QByteArray(c.what).startsWith("expected") ? 0 : 10000;
    auto d = makeDownloader({artifact(QStringLiteral("a.bin"), expected)});
    try {
      test::awaitTask(d->download());
      FAIL() << "no error";
    } catch (const DownloadError& e) {
      EXPECT_EQ(e.kind(), DownloadError::Kind::Incomplete);
    }
    EXPECT_EQ(d->state(), State::failed(QString::fromUtf8(c.error)));
    EXPECT_TRUE(filesInDir().isEmpty()) << filesInDir().join(QLatin1Char(' ')).toStdString();
    for (const State& s : states) EXPECT_LE(s.progress, 1.0);
  }
}

// The server declared more than it sent before closing: the file is short.
TEST_F(ModelDownloaderTest, AConnectionClosedEarlyIsAnIncompleteFile) {
  serve(QStringLiteral("a.bin"), Route{200, {}, 4000, 10000, -1});
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 10000)});
  EXPECT_THROW(test::awaitTask(d->download()), DownloadError);
  EXPECT_EQ(d->state(), State::failed(QStringLiteral("Downloaded model is incomplete")));
  EXPECT_TRUE(filesInDir().isEmpty());
}

TEST_F(ModelDownloaderTest, AWrongSizedFileInPlaceIsReplaced) {
  place(QStringLiteral("a.bin"), 1234);
  place(QStringLiteral("a.bin.partial"), 77);  // left from an earlier run
  serveGenerated(QStringLiteral("a.bin"), 8000);
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 8000)});
  test::awaitTask(d->download());
  EXPECT_TRUE(holdsPattern(QStringLiteral("a.bin"), 8000));
  EXPECT_EQ(filesInDir(), QStringList{QStringLiteral("a.bin")});
}

TEST_F(ModelDownloaderTest, CancellingDuringTheSecondFileKeepsTheFirst) {
  serveGenerated(QStringLiteral("a.bin"), 20'000);
  serve(QStringLiteral("b.bin"), Route{200, {}, 20'000, -1, 5'000});  // stalls after 5,000 bytes
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 20'000), artifact(QStringLiteral("b.bin"), 20'000)});
  CancellationToken cancel;
  auto task = d->download(cancel);
  ASSERT_TRUE(test::waitUntil([&] { return d->state() == State::downloading(0.63); }));
  const State before = d->state();
  cancel.cancel();
  EXPECT_THROW(test::awaitTask(std::move(task)), OperationCancelled);
  EXPECT_EQ(d->state(), before);
  EXPECT_TRUE(holdsPattern(QStringLiteral("a.bin"), 20'000));
  EXPECT_EQ(filesInDir(), QStringList{QStringLiteral("a.bin")});
  EXPECT_FALSE(d->isDownloading());

  // The next download fetches only what is still missing.
  server.clear();
  serveGenerated(QStringLiteral("b.bin"), 20'000);
  states.clear();
  test::awaitTask(d->download());
  EXPECT_EQ(server.requests(), QStringList{remotePath(QStringLiteral("b.bin"))});
  EXPECT_EQ(states.first(), State::downloading(0.5));
  EXPECT_EQ(d->state(), State::completed());
  EXPECT_TRUE(holdsPattern(QStringLiteral("b.bin"), 20'000));
}

TEST_F(ModelDownloaderTest, ACancellationBeforeTheStartMakesNoRequest) {
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 100)});
  CancellationToken cancel;
  cancel.cancel();
  EXPECT_THROW(test::awaitTask(d->download(cancel)), OperationCancelled);
  test::waitUntil([] { return false; }, 100ms);  // give a stray request time to arrive
  EXPECT_TRUE(server.requests().isEmpty());
  EXPECT_EQ(d->state(), State::downloading(0));
}

TEST_F(ModelDownloaderTest, AStalledTransferTimesOutAfterThirtySecondsWithoutData) {
  serve(QStringLiteral("a.bin"), Route{200, {}, 50'000, -1, 1'000});
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 50'000)});
  auto task = d->download();
  ASSERT_TRUE(test::waitUntil([&] { return QFileInfo(file(QStringLiteral("a.bin.partial"))).size() == 1'000; }));
  clock.advance(29s);
  test::waitUntil([] { return false; }, 50ms);
  EXPECT_TRUE(d->isDownloading());
  clock.advance(1s);
  try {
    test::awaitTask(std::move(task));
    FAIL() << "no error";
  } catch (const DownloadError& e) {
    EXPECT_EQ(e.kind(), DownloadError::Kind::Network);
    EXPECT_EQ(e.networkFailure(), DownloadError::Network::TimedOut);
  }
  EXPECT_EQ(d->state(), State::failed(kTimedOut));
  EXPECT_TRUE(filesInDir().isEmpty());
}

TEST_F(ModelDownloaderTest, ATransferLongerThanTheResourceTimeoutFails) {
  serve(QStringLiteral("a.bin"), Route{200, {}, 50'000, -1, 1'000});
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 50'000)}, 10);
  auto task = d->download();
  ASSERT_TRUE(test::waitUntil([&] { return QFileInfo(file(QStringLiteral("a.bin.partial"))).size() == 1'000; }));
  clock.advance(10s);
  EXPECT_THROW(test::awaitTask(std::move(task)), DownloadError);
  EXPECT_EQ(d->state(), State::failed(kTimedOut));
}

TEST_F(ModelDownloaderTest, ASecondDownloadWhileOneRunsIsRefused) {
  serve(QStringLiteral("a.bin"), Route{200, {}, 50'000, -1, 1'000});
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 50'000)});
  CancellationToken cancel;
  auto first = d->download(cancel);
  ASSERT_TRUE(d->isDownloading());
  try {
    test::awaitTask(d->download());
    FAIL() << "second download accepted";
  } catch (const DownloadError& e) {
    EXPECT_EQ(e.kind(), DownloadError::Kind::Busy);
  }
  EXPECT_EQ(d->state().kind, State::Kind::Downloading);
  cancel.cancel();
  EXPECT_THROW(test::awaitTask(std::move(first)), OperationCancelled);
}

// What the user reads is a sentence about what to do; the library's words go
// to the diagnostics log only.
TEST_F(ModelDownloaderTest, NetworkFailuresReadAsPlainSentencesWithTheDetailInTheLog) {
  const struct {
    const char* what;
    QUrl endpoint;
    DownloadError::Network failure;
    QString sentence;
    const char* logged;
  } cases[] = {
      {"closed port", test::LoopbackHttpServer::closedUrl(), DownloadError::Network::Refused, kRefused,
       "error=refused detail=\"Connection refused"},
      {"unknown host", QUrl(QStringLiteral("http://models.murel.invalid")), DownloadError::Network::HostNotFound,
       kHostNotFound, "host=models.murel.invalid error=host-not-found detail=\"Host models.murel.invalid not found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const test::DiagLogLines log;
    auto d = std::make_unique<ModelDownloader>(QList<ModelArtifact>{artifact(QStringLiteral("a.bin"), 10)}, dir, 3600,
                                               clock);
    d->setModelName(QStringLiteral("tinyModel"));
    d->setEndpoint(c.endpoint);
    try {
      test::awaitTask(d->download());
      FAIL() << "no error";
    } catch (const DownloadError& e) {
      EXPECT_EQ(e.kind(), DownloadError::Kind::Network);
      EXPECT_EQ(e.networkFailure(), c.failure);
      EXPECT_EQ(e.description(), c.sentence);
      EXPECT_FALSE(e.detail().isEmpty());
    }
    EXPECT_EQ(d->state(), State::failed(c.sentence));
    EXPECT_TRUE(filesInDir().isEmpty());
    const QStringList lines = log.added(kFailed);
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("model=tinyModel file=a.bin host="))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QString::fromUtf8(c.logged))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" bytes=0/10"))) << lines[0].toStdString();
  }
}

// Each failure that ends a download leaves one line saying what was fetched
// from where, how the server answered or what failed, and how far it got; a
// cancellation is the user's choice and leaves none.
TEST_F(ModelDownloaderTest, EveryFailedDownloadLeavesOneLineInTheDiagnosticsLog) {
  const struct {
    const char* what;
    Route route;
    const char* logged;
  } cases[] = {
      {"refused by status", Route{404, QByteArrayLiteral("no"), -1, -1, -1}, "status=404 bytes=0/10000"},
      {"short file", Route{200, {}, 9999, -1, -1}, "status=200 error=incomplete bytes=9999/10000"},
      {"dropped connection", Route{200, {}, 4000, 10000, -1}, "status=200 error=incomplete bytes=4000/10000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    serve(QStringLiteral("a.bin"), c.route);
    const test::DiagLogLines log;
    auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 10000)});
    EXPECT_THROW(test::awaitTask(d->download()), DownloadError);
    const QStringList lines = log.added(kFailed);
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    // No model name given: the log names the model by its first file.
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("  model=a.bin file=a.bin host=127.0.0.1:%1 %2")
                                      .arg(server.baseUrl().port())
                                      .arg(QString::fromUtf8(c.logged))))
        << lines[0].toStdString();
  }

  // A stall that times out, and a cancellation.
  serve(QStringLiteral("a.bin"), Route{200, {}, 10000, -1, 1000});
  const test::DiagLogLines log;
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 10000)});
  CancellationToken cancel;
  auto cancelled = d->download(cancel);
  ASSERT_TRUE(test::waitUntil([&] { return QFileInfo(file(QStringLiteral("a.bin.partial"))).size() == 1000; }));
  cancel.cancel();
  EXPECT_THROW(test::awaitTask(std::move(cancelled)), OperationCancelled);
  EXPECT_TRUE(log.added(kFailed).isEmpty()) << log.added(kFailed).join('\n').toStdString();
  auto stalled = d->download();
  ASSERT_TRUE(test::waitUntil([&] { return QFileInfo(file(QStringLiteral("a.bin.partial"))).size() == 1000; }));
  clock.advance(ModelDownloader::kRequestTimeout);
  EXPECT_THROW(test::awaitTask(std::move(stalled)), DownloadError);
  ASSERT_EQ(log.added(kFailed).size(), 1);
  EXPECT_TRUE(log.added(kFailed)[0].endsWith(
      QStringLiteral("status=200 error=timed-out detail=\"no data for 30 s\" bytes=1000/10000")))
      << log.added(kFailed)[0].toStdString();
}

// Every real model file is served through a redirect to another host: the
// downloader follows it and checks the size of the body it ends with, not of
// the redirect's own.
TEST_F(ModelDownloaderTest, ARedirectToAnotherServerIsFollowedAndItsFinalBodyChecked) {
  test::LoopbackHttpServer storage;
  const QString stored = QStringLiteral("/blobs/a1b2c3");
  Route redirect{302, QByteArrayLiteral("Found. Redirecting to the file"), -1, -1, -1, storage.url(stored)};
  serve(QStringLiteral("a.bin"), redirect);

  storage.setRoute(stored, Route{200, {}, 30'000, -1, -1});
  auto d = makeDownloader({artifact(QStringLiteral("a.bin"), 30'000)});
  EXPECT_EQ(test::awaitTask(d->download()), QStringList{file(QStringLiteral("a.bin"))});
  EXPECT_EQ(server.requests(), QStringList{remotePath(QStringLiteral("a.bin"))});
  EXPECT_EQ(storage.requests(), QStringList{stored});
  EXPECT_TRUE(holdsPattern(QStringLiteral("a.bin"), 30'000));
  EXPECT_EQ(d->state(), State::completed());

  // The redirect's body has the expected size; the final one is a byte short.
  QFile::remove(file(QStringLiteral("a.bin")));
  redirect.body = test::LoopbackHttpServer::pattern(30'000);
  serve(QStringLiteral("a.bin"), redirect);
  storage.setRoute(stored, Route{200, {}, 29'999, -1, -1});
  const test::DiagLogLines log;
  auto short_ = makeDownloader({artifact(QStringLiteral("a.bin"), 30'000)});
  try {
    test::awaitTask(short_->download());
    FAIL() << "a short final body was accepted";
  } catch (const DownloadError& e) {
    EXPECT_EQ(e.kind(), DownloadError::Kind::Incomplete);
  }
  EXPECT_TRUE(filesInDir().isEmpty());
  ASSERT_EQ(log.added(kFailed).size(), 1);
  EXPECT_TRUE(log.added(kFailed)[0].contains(QStringLiteral("host=127.0.0.1:%1 redirected=127.0.0.1:%2 status=200")
                                                 .arg(server.baseUrl().port())
                                                 .arg(storage.baseUrl().port())))
      << log.added(kFailed)[0].toStdString();
}

TEST(DownloadErrors, Descriptions) {
  ASSERT_TRUE(installTranslations(*QCoreApplication::instance()));
  using Network = DownloadError::Network;
  EXPECT_STREQ(DownloadError::failed(404).what(), "Model download failed (HTTP 404)");
  EXPECT_STREQ(DownloadError::incomplete().what(), "Downloaded model is incomplete");
  // The library's words never reach the sentence.
  const struct {
    Network failure;
    QString sentence;
  } cases[] = {
      {Network::HostNotFound, kHostNotFound},
      {Network::TimedOut, kTimedOut},
      {Network::Refused, kRefused},
      {Network::Certificate,
       QStringLiteral("The download server’s security certificate couldn’t be verified. Check that this computer’s "
                      "date and time are correct, then try again.")},
      {Network::Other, QStringLiteral("The download was interrupted by a network problem. Try again.")},
  };
  for (const auto& c : cases) {
    const DownloadError e = DownloadError::network(c.failure, QStringLiteral("SSL handshake failed: expired"));
    EXPECT_EQ(e.description(), c.sentence);
    EXPECT_EQ(QString::fromUtf8(e.what()), c.sentence);
    EXPECT_EQ(e.detail(), QStringLiteral("SSL handshake failed: expired"));
  }
}
