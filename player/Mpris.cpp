#include "Mpris.h"

#include <unistd.h>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>
#include <QUrl>

#include "MediaPlayer.h"
#include "QLChList.h"

namespace {

const char* const kObjectPath = "/org/mpris/MediaPlayer2";

// Commands arrive from the bus inside its message handling: run them from the event loop, as
// a click would, so that a message box they show does not hold up the bus reply.
template <typename Fn>
void Later(TFormMediaPlayer* player, Fn fn) {
  QTimer::singleShot(0, player, fn);
}

}  // namespace

TMprisService::TMprisService(TFormMediaPlayer* player) : QObject(player), player_(player) {
  new TMprisRoot(this);
  new TMprisPlayer(this);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  if (!bus.registerObject(kObjectPath, this)) return;
  // A second player takes a name of its own.
  for (const QString& name :
       {QStringLiteral("org.mpris.MediaPlayer2.qlplayer"),
        QStringLiteral("org.mpris.MediaPlayer2.qlplayer.instance%1").arg(getpid())})
    if (bus.registerService(name)) {
      service_ = name;
      break;
    }
  // The state is followed by looking at it twice a second; changes are announced with
  // PropertiesChanged.
  last_status_ = PlaybackStatus();
  last_metadata_ = Metadata();
  poll_ = new QTimer(this);
  poll_->setInterval(500);
  connect(poll_, &QTimer::timeout, this, [this] { Poll(); });
  poll_->start();
}

TMprisService::~TMprisService() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!service_.isEmpty()) bus.unregisterService(service_);
  bus.unregisterObject(kObjectPath);
}

QString TMprisService::PlaybackStatus() const {
  int mode = player_->MediaDevice().Mode();
  if (mode == mpPlaying) return QStringLiteral("Playing");
  if (mode == mpPaused) return QStringLiteral("Paused");
  return QStringLiteral("Stopped");
}

QVariantMap TMprisService::Metadata() const {
  QVariantMap m;
  TMediaPlayer& device = player_->MediaDevice();
  int mode = device.Mode();
  if (mode == mpNotReady || device.FileName.empty()) {
    m["mpris:trackid"] =
        QVariant::fromValue(QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    return m;
  }
  const QString file = QString::fromStdString(device.FileName);
  int row = player_->Files()->IndexOf(device.FileName);
  m["mpris:trackid"] = QVariant::fromValue(
      QDBusObjectPath(QStringLiteral("/example/quillon/track/%1").arg(row < 0 ? 0 : row)));
  QString title = file.section('/', -1);
  int dot = title.lastIndexOf('.');
  if (dot > 0) title.truncate(dot);
  m["xesam:title"] = title;
  m["xesam:url"] = QUrl::fromLocalFile(file).toString();
  if (long long length = device.Length(); length > 0)
    m["mpris:length"] = static_cast<qlonglong>(length * 1000);
  return m;
}

void TMprisService::Poll() {
  QString status = PlaybackStatus();
  QVariantMap metadata = Metadata();
  QVariantMap changed;
  if (status != last_status_) changed["PlaybackStatus"] = status;
  if (metadata != last_metadata_) changed["Metadata"] = metadata;
  last_status_ = status;
  last_metadata_ = metadata;
  if (changed.isEmpty() || service_.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, "org.freedesktop.DBus.Properties",
                                                   "PropertiesChanged");
  signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
  QDBusConnection::sessionBus().send(signal);
}

TMprisRoot::TMprisRoot(TMprisService* service) : QDBusAbstractAdaptor(service), service_(service) {}

QStringList TMprisRoot::SupportedMimeTypes() const {
  return {"audio/mpeg", "audio/x-wav", "audio/wav", "video/x-msvideo", "video/quicktime"};
}

void TMprisRoot::Raise() {
  TFormMediaPlayer* p = service_->Player();
  Later(p, [p] {
    p->showNormal();
    p->raise();
    p->activateWindow();
  });
}

void TMprisRoot::Quit() {
  TFormMediaPlayer* p = service_->Player();
  Later(p, [p] { p->close(); });
}

TMprisPlayer::TMprisPlayer(TMprisService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

qlonglong TMprisPlayer::Position() const {
  return static_cast<qlonglong>(service_->Player()->MediaDevice().Position() * 1000);
}

bool TMprisPlayer::CanGoNext() const {
  return service_->Player()->Files()->Count() > 0;
}

void TMprisPlayer::Play() {
  TFormMediaPlayer* p = service_->Player();
  Later(p, [p] {
    int mode = p->MediaDevice().Mode();
    if (mode == mpPlaying) return;
    // A media key with nothing selected plays the first entry.
    if (mode != mpPaused && p->Files()->ItemIndex() < 0 && p->Files()->Count() > 0)
      p->Files()->SetItemIndex(0);
    p->sbPlayClick();
  });
}

void TMprisPlayer::Pause() {
  TFormMediaPlayer* p = service_->Player();
  Later(p, [p] {
    if (p->MediaDevice().Mode() == mpPlaying) p->sbPauseClick();
  });
}

void TMprisPlayer::PlayPause() {
  if (service_->Player()->MediaDevice().Mode() == mpPlaying)
    Pause();
  else
    Play();
}

void TMprisPlayer::Stop() {
  TFormMediaPlayer* p = service_->Player();
  Later(p, [p] { p->sbStopClick(); });
}

void TMprisPlayer::Next() {
  TFormMediaPlayer* p = service_->Player();
  Later(p, [p] { p->sbNextClick(); });
}

void TMprisPlayer::Previous() {
  TFormMediaPlayer* p = service_->Player();
  Later(p, [p] { p->sbPreviousClick(); });
}

// The device offers no seeking to the player (CanSeek is false): these do nothing.
void TMprisPlayer::Seek(qlonglong) {}
void TMprisPlayer::SetPosition(const QDBusObjectPath&, qlonglong) {}

void TMprisPlayer::OpenUri(const QString& uri) {
  TFormMediaPlayer* p = service_->Player();
  QUrl url(uri);
  if (!url.isLocalFile()) return;
  std::string path = url.toLocalFile().toStdString();
  Later(p, [p, path] {
    p->AddPaths({path});
    p->PlayEntry(p->Files()->Count() - 1);
  });
}
