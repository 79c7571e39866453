#pragma once
// A key that reaches the program whatever window has the focus, on X11. Where there is no
// such key (no X11), Register() says so and the key does nothing. (The Windows window
// registers its hot key itself.)

#include <QObject>
#include <memory>

#include "app/model/HotKey.h"

class GlobalHotKey : public QObject {
    Q_OBJECT
  public:
    // Creates the implementation for the running platform.
    static std::unique_ptr<GlobalHotKey> Create(QObject* parent = nullptr);
    ~GlobalHotKey() override = default;

    enum class Result { Held, Taken, Unsupported };
    // Claims `key` (letting go of any key held before): Taken when another program holds it.
    virtual Result Register(const HotKeySpec& key) = 0;
    virtual void Unregister() = 0;

  signals:
    void activated();

  protected:
    using QObject::QObject;
};
