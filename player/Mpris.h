#pragma once
// MPRIS2 on the session bus: media keys and desktop widgets drive the player window (Play,
// Pause, Stop, Next, Previous) and read its state (PlaybackStatus, Metadata).
#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QTimer;
class TFormMediaPlayer;

class TMprisService : public QObject {
  Q_OBJECT
 public:
  explicit TMprisService(TFormMediaPlayer* player);
  ~TMprisService() override;
  // The bus name taken ("" when there is no session bus or no name could be had).
  const QString& ServiceName() const { return service_; }

  TFormMediaPlayer* Player() const { return player_; }
  QString PlaybackStatus() const;
  QVariantMap Metadata() const;

 private:
  void Poll();

  TFormMediaPlayer* player_;
  QString service_;
  QTimer* poll_ = nullptr;
  QString last_status_;
  QVariantMap last_metadata_;
};

class TMprisRoot : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
 public:
  explicit TMprisRoot(TMprisService* service);
  bool CanQuit() const { return true; }
  bool CanRaise() const { return true; }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("Quillon Media Player"); }
  QString DesktopEntry() const { return QStringLiteral("quillon-media-player"); }
  QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
  QStringList SupportedMimeTypes() const;

 public slots:
  void Raise();
  void Quit();

 private:
  TMprisService* service_;
};

class TMprisPlayer : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Rate READ Rate)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(double Volume READ Volume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ CanGoNext)
  Q_PROPERTY(bool CanGoPrevious READ CanGoNext)
  Q_PROPERTY(bool CanPlay READ CanGoNext)
  Q_PROPERTY(bool CanPause READ CanGoNext)
  Q_PROPERTY(bool CanSeek READ CanSeek)
  Q_PROPERTY(bool CanControl READ CanControl)
 public:
  explicit TMprisPlayer(TMprisService* service);
  QString PlaybackStatus() const { return service_->PlaybackStatus(); }
  QVariantMap Metadata() const { return service_->Metadata(); }
  double Rate() const { return 1.0; }
  double Volume() const { return 1.0; }
  qlonglong Position() const;
  bool CanGoNext() const;
  bool CanSeek() const { return false; }
  bool CanControl() const { return true; }

 public slots:
  void Play();
  void Pause();
  void PlayPause();
  void Stop();
  void Next();
  void Previous();
  void Seek(qlonglong offset);
  void SetPosition(const QDBusObjectPath& track, qlonglong position);
  void OpenUri(const QString& uri);

 signals:
  void Seeked(qlonglong position);

 private:
  TMprisService* service_;
};
