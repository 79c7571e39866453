#pragma once
// A key that reaches the program whatever window has the focus, on X11. Where it is not
// available, RegisterF2() fails and the key does nothing. (The Windows window registers its
// hot key itself.)

#include <QObject>
#include <memory>

class GlobalHotKey : public QObject {
    Q_OBJECT
  public:
    // Creates the implementation for the running platform.
    static std::unique_ptr<GlobalHotKey> Create(QObject* parent = nullptr);
    ~GlobalHotKey() override = default;

    // Claims F2 with no modifier; false when another program holds it or the system has none.
    virtual bool RegisterF2() = 0;
    virtual void Unregister() = 0;

  signals:
    void activated();

  protected:
    using QObject::QObject;
};
