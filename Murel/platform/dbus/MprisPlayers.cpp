#include "platform/dbus/MprisPlayers.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QFuture>
#include <QPointer>
#include <QPromise>
#include <QUuid>

#include <QCoroFuture>

#include <vector>

namespace murel {
namespace {

const QString kPlayerPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

QString boundText() {
  return QStringLiteral("%1 s").arg(std::chrono::duration<double>(MprisPlayers::kCallBound).count());
}

QString errorText(const QDBusMessage& reply) { return reply.errorName() + QStringLiteral(": ") + reply.errorMessage(); }

// The answer to one call, or nothing when it did not come within the bound.
using Reply = std::optional<QDBusMessage>;

struct Race {
  QPromise<Reply> promise;
  bool settled = false;
  Clock::TimerId timer = 0;
  QPointer<QDBusPendingCallWatcher> watcher;
};

// One player's status: its unique name when it plays; a failure line when it
// could not tell.
struct StatusAnswer {
  QString playingAs;
  std::optional<QString> failure;
};

}  // namespace

struct MprisPlayers::Private {
  Private(Clock& clock, QDBusConnection bus, bool ownsBus) : clock(clock), bus(std::move(bus)), ownsBus(ownsBus) {}
  ~Private() {
    if (ownsBus) QDBusConnection::disconnectFromBus(bus.name());
  }

  // Sends `message` and waits for its answer until the bound passes on the
  // clock. The bus is asked to drop the call after the same time, so nothing
  // stays queued for a player that never answers.
  QCoro::Task<Reply> call(QDBusMessage message) {
    auto race = std::make_shared<Race>();
    QFuture<Reply> future = race->promise.future();
    race->promise.start();
    ++*pending;
    const int boundMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(kCallBound).count());
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, boundMs));
    race->watcher = watcher;
    std::shared_ptr<int> count = pending;
    auto settle = [race, count](Reply reply) {
      if (race->settled) return;
      race->settled = true;
      --*count;
      if (race->watcher) race->watcher->deleteLater();
      race->promise.addResult(std::move(reply));
      race->promise.finish();
    };
    Clock* timerClock = &clock;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [race, settle, timerClock](QDBusPendingCallWatcher* finished) {
                       timerClock->cancel(race->timer);
                       settle(finished->reply());
                     });
    if (!race->settled) race->timer = clock.schedule(kCallBound, [settle] { settle(std::nullopt); });
    co_return co_await future;
  }

  QCoro::Task<StatusAnswer> askStatus(QString name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        name, kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kPlayerInterface << QStringLiteral("PlaybackStatus");
    auto pending = call(get);
    const Reply reply = co_await std::move(pending);
    if (!reply) co_return StatusAnswer{{}, name + QStringLiteral(" did not answer within ") + boundText()};
    if (reply->type() != QDBusMessage::ReplyMessage)
      co_return StatusAnswer{{}, name + QStringLiteral(" gave no playback status: ") + errorText(*reply)};
    const QList<QVariant> arguments = reply->arguments();
    QVariant value = arguments.isEmpty() ? QVariant() : arguments.first();
    if (value.canConvert<QDBusVariant>()) value = value.value<QDBusVariant>().variant();
    if (value.metaType().id() != QMetaType::QString) {
      co_return StatusAnswer{
          {}, name + QStringLiteral(" gave a playback status that is not text (%1)").arg(value.typeName())};
    }
    // The reply's sender is the player's unique name: a player that restarts
    // gets a new one, so the later Play cannot reach what we did not pause.
    if (value.toString() == QStringLiteral("Playing")) co_return StatusAnswer{reply->service(), std::nullopt};
    co_return StatusAnswer{};
  }

  Clock& clock;
  QDBusConnection bus;
  bool ownsBus;
  std::shared_ptr<int> pending = std::make_shared<int>(0);
};

MprisPlayers::MprisPlayers(Clock& clock) : d_(std::make_unique<Private>(clock, QDBusConnection::sessionBus(), false)) {}

MprisPlayers::MprisPlayers(Clock& clock, const QString& address)
    : d_(std::make_unique<Private>(
          clock,
          QDBusConnection::connectToBus(
              address, QStringLiteral("murel-mpris-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
          true)) {}

MprisPlayers::~MprisPlayers() = default;

int MprisPlayers::pendingCalls() const { return *d_->pending; }

QCoro::Task<MediaPlayers::Playing> MprisPlayers::playingPlayers() {
  Playing result;
  if (!d_->bus.isConnected()) {
    result.failures.append(QStringLiteral("No D-Bus session bus: ") + d_->bus.lastError().message());
    co_return result;
  }
  auto listing = d_->call(
      QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")));
  const Reply names = co_await std::move(listing);
  if (!names) {
    result.failures.append(QStringLiteral("The bus did not list its names within ") + boundText());
    co_return result;
  }
  if (names->type() != QDBusMessage::ReplyMessage) {
    result.failures.append(QStringLiteral("Listing the bus names failed: ") + errorText(*names));
    co_return result;
  }
  QStringList players;
  const QList<QVariant> arguments = names->arguments();
  for (const QString& name : arguments.isEmpty() ? QStringList() : arguments.first().toStringList()) {
    if (name.startsWith(kPlayerPrefix)) players.append(name);
  }
  players.sort();
  // All players are asked at once: a hung one costs one bound, not one each.
  std::vector<QCoro::Task<StatusAnswer>> asks;
  asks.reserve(std::size_t(players.size()));
  for (const QString& player : players) asks.push_back(d_->askStatus(player));
  for (auto& ask : asks) {
    const StatusAnswer answer = co_await std::move(ask);
    if (answer.failure) result.failures.append(*answer.failure);
    // One player may own several names.
    if (!answer.playingAs.isEmpty() && !result.players.contains(answer.playingAs))
      result.players.append(answer.playingAs);
  }
  co_return result;
}

QCoro::Task<std::optional<QString>> MprisPlayers::pause(QString player) {
  return command(std::move(player), QStringLiteral("Pause"));
}

QCoro::Task<std::optional<QString>> MprisPlayers::play(QString player) {
  return command(std::move(player), QStringLiteral("Play"));
}

QCoro::Task<std::optional<QString>> MprisPlayers::command(QString player, QString method) {
  if (!d_->bus.isConnected()) co_return QStringLiteral("No D-Bus session bus: ") + d_->bus.lastError().message();
  auto sent = d_->call(QDBusMessage::createMethodCall(player, kObjectPath, kPlayerInterface, method));
  const Reply reply = co_await std::move(sent);
  if (!reply) co_return player + QStringLiteral(" did not answer %1 within ").arg(method) + boundText();
  if (reply->type() == QDBusMessage::ReplyMessage) co_return std::nullopt;
  if (reply->errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
      reply->errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"))
    co_return QStringLiteral("The player %1 has left the bus; %2 not sent").arg(player, method);
  co_return QStringLiteral("%1 refused %2: ").arg(player, method) + errorText(*reply);
}

}  // namespace murel
