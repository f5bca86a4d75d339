#pragma once

#include "mixer/media_player.h"

#include <QMap>
#include <QStringList>
#include <QWidget>

#include <memory>

// A player that records commands and answers from fields the test sets.
class FakePlayer : public MediaPlayer {
public:
  void setUrl(const QString &path) override {
    opened << path;
    status_text = QStringLiteral("Playing");
  }
  QString status() const override { return status_text; }
  void play() override {
    commands << QStringLiteral("play");
    status_text = QStringLiteral("Playing");
  }
  void pause() override {
    commands << QStringLiteral("pause");
    status_text = QStringLiteral("Paused");
  }
  void stop() override {
    commands << QStringLiteral("stop");
    status_text = QStringLiteral("Stopped");
  }
  void next() override { commands << QStringLiteral("next"); }
  void previous() override { commands << QStringLiteral("previous"); }
  std::optional<QString> currentMediaName() const override {
    return loaded ? std::optional<QString>(name) : std::nullopt;
  }
  std::optional<QString> itemInfo(const QString &attribute) const override {
    return loaded ? std::optional<QString>(attributes.value(attribute)) : std::nullopt;
  }
  QWidget *videoWidget() override { return widget.get(); }
  VideoAcceleration videoAcceleration() const override { return acceleration; }
  void setVideoAcceleration(VideoAcceleration level) override { acceleration = level; }

  bool loaded = false;
  QString name;
  QMap<QString, QString> attributes;
  QString status_text = QStringLiteral("Ready");
  VideoAcceleration acceleration = VideoAcceleration::Full;
  QStringList opened;
  QStringList commands;
  std::unique_ptr<QWidget> widget = std::make_unique<QWidget>();
};
