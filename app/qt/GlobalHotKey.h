#pragma once
// A key that reaches the program whatever window has the focus. One implementation per
// windowing system; where none is available, Register() fails and the key does nothing.

#include <QObject>
#include <memory>

// The identifier under which F2 is registered where the system asks for one (Windows).
inline constexpr int HOTKEY_ID_SHOWHIDE = 833;

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
