// Schedules as tasks of the Task Scheduler, through its COM API: one task per schedule, named
// after its id, in the folder \Tarvola采集器\ that the installer makes and lets users add to;
// where a task cannot go there, it goes to the root as "Tarvola采集器 <id>".

#include <windows.h>

#include <comdef.h>
#include <oleauto.h>
#include <taskschd.h>

#include <set>

#include "platform/Schedule.h"
#include "platform/windows/Wide.h"

namespace platform {

namespace {

template <typename T>
class Com {
  public:
    Com() = default;
    ~Com() {
        if (p_ != nullptr) {
            p_->Release();
        }
    }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    T** operator&() { return &p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* get() const { return p_; }

  private:
    T* p_ = nullptr;
};

class Bstr {
  public:
    explicit Bstr(const std::wstring& text) : b_(SysAllocString(text.c_str())) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return b_; }
    BSTR* operator&() { return &b_; }
    std::string Utf8() const { return b_ != nullptr ? win::Narrow(b_, SysStringLen(b_)) : ""; }

  private:
    BSTR b_ = nullptr;
};

VARIANT Empty() {
    VARIANT v;
    VariantInit(&v);
    return v;
}

VARIANT Text(BSTR b) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = b;
    return v;
}

std::string HrText(HRESULT hr) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

const std::wstring kFolderPath = L"\\" + win::Wide(kScheduleFolder);
const std::wstring kRootPrefix = win::Wide(kScheduleFolder) + L" ";

// COM for this thread for as long as it lives (a thread that has it already keeps its own).
struct ComScope {
    ComScope() {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        owned = SUCCEEDED(hr);
    }
    ~ComScope() {
        if (owned) {
            CoUninitialize();
        }
    }
    bool owned = false;
};

bool Connect(Com<ITaskService>& service, std::string& error) {
    HRESULT hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ITaskService, reinterpret_cast<void**>(&service));
    // A service that is still starting (just after boot) answers in a moment.
    for (int tries = 0; service && (SUCCEEDED(hr) || hr == SCHED_E_SERVICE_NOT_RUNNING); ++tries) {
        hr = service->Connect(Empty(), Empty(), Empty(), Empty());
        if (hr != SCHED_E_SERVICE_NOT_RUNNING || tries == 5) {
            break;
        }
        Sleep(1000);
    }
    if (FAILED(hr)) {
        error = "无法连接任务计划程序（" + HrText(hr) + "）";
        return false;
    }
    return true;
}

// A task's XML: the text of its first `tag` element.
std::string ElementText(const std::string& xml, const std::string& tag) {
    const size_t open = xml.find("<" + tag + ">");
    if (open == std::string::npos) {
        return {};
    }
    const size_t from = open + tag.size() + 2;
    const size_t close = xml.find("</" + tag + ">", from);
    std::string text = xml.substr(from, close == std::string::npos ? 0 : close - from);
    for (const auto& [entity, c] : {std::pair<std::string, std::string>{"&lt;", "<"},
                                    {"&gt;", ">"},
                                    {"&quot;", "\""},
                                    {"&amp;", "&"}}) {
        for (size_t at = 0; (at = text.find(entity, at)) != std::string::npos; at += c.size()) {
            text.replace(at, entity.size(), c);
        }
    }
    return text;
}

// A task of ours as list shows it: its id, when and what it runs (from its XML).
ListedSchedule Listed(IRegisteredTask* task, int id) {
    Bstr xml;
    task->get_Xml(&xml);
    const std::string text = xml.Utf8();
    ListedSchedule s;
    s.id = id;
    const std::string description = ElementText(text, "Description");
    const size_t bar = description.find(" | ");
    s.when = bar == std::string::npos ? description : description.substr(bar + 3);
    if (const std::string command = ElementText(text, "Command"); !command.empty()) {
        s.command = "\"" + command + "\" " + ElementText(text, "Arguments");
    }
    return s;
}

// The highest id looked for by name where the tasks of a folder cannot be counted (wine).
constexpr int kIdsProbed = 100;
constexpr int kFreeIdsProbed = 10;

// The tasks of ours in `folder` (all of them in our own folder; in the root, those named so).
void Tasks(ITaskFolder* folder, bool root, std::vector<ListedSchedule>& out) {
    Com<IRegisteredTaskCollection> tasks;
    LONG count = 0;
    if (SUCCEEDED(folder->GetTasks(TASK_ENUM_HIDDEN, &tasks)) &&
        SUCCEEDED(tasks->get_Count(&count))) {
        for (LONG i = 1; i <= count; ++i) {
            VARIANT index;
            VariantInit(&index);
            index.vt = VT_I4;
            index.lVal = i;
            Com<IRegisteredTask> task;
            if (FAILED(tasks->get_Item(index, &task))) {
                continue;
            }
            Bstr name;
            task->get_Name(&name);
            std::wstring id(name != nullptr ? static_cast<const wchar_t*>(name) : L"");
            if (root) {
                if (id.rfind(kRootPrefix, 0) != 0) {
                    continue;
                }
                id = id.substr(kRootPrefix.size());
            }
            out.push_back(Listed(task.get(), _wtoi(id.c_str())));
        }
        return;
    }
    // A Task Scheduler that cannot list a folder still finds a task by its name. Ids are handed
    // out from 1, the lowest free first: the search ends after a run of free ones.
    for (int id = 1, free = 0; id <= kIdsProbed && free < kFreeIdsProbed; ++id) {
        Com<IRegisteredTask> task;
        const std::wstring name = (root ? kRootPrefix : std::wstring()) + std::to_wstring(id);
        if (SUCCEEDED(folder->GetTask(Bstr(name), &task))) {
            out.push_back(Listed(task.get(), id));
            free = 0;
        } else {
            ++free;
        }
    }
}

}  // namespace

ScheduleAdded AddSchedule(Schedule& schedule) {
    ComScope com;
    ScheduleAdded added;
    if (added.error = ScheduleRefusal(schedule); !added.error.empty()) {
        return added;
    }
    Com<ITaskService> service;
    if (!Connect(service, added.error)) {
        return added;
    }
    std::string error;
    std::set<int> taken;
    if (auto listed = ListSchedules(error)) {
        for (const ListedSchedule& s : *listed) {
            taken.insert(s.id);
        }
    }
    schedule.id = 1;
    while (taken.count(schedule.id) != 0) {
        ++schedule.id;
    }
    // Into our folder, else (no folder, or not one this user may add to) the root under a name
    // of ours; never over a task there is (another user's may be out of this one's sight).
    Com<ITaskFolder> folder;
    Com<ITaskFolder> root;
    const bool ours = SUCCEEDED(service->GetFolder(Bstr(kFolderPath), &folder));
    HRESULT hr = service->GetFolder(Bstr(L"\\"), &root);
    for (ITaskFolder* in : {ours ? folder.get() : nullptr, SUCCEEDED(hr) ? root.get() : nullptr}) {
        if (in == nullptr) {
            continue;
        }
        for (int tries = 0; tries < kIdsProbed; ++tries) {
            const std::string description = std::string(kScheduleFolder) + " 定时采集 " +
                                            std::to_string(schedule.id) + " | " +
                                            WhenText(schedule);
            const Bstr xml(win::Wide(TaskXml(schedule, description)));
            const std::wstring name =
                (in == root.get() ? kRootPrefix : std::wstring()) + std::to_wstring(schedule.id);
            Com<IRegisteredTask> task;
            hr = in->RegisterTask(Bstr(name), xml, TASK_CREATE, Empty(), Empty(),
                                  TASK_LOGON_INTERACTIVE_TOKEN, Empty(), &task);
            if (hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)) {
                ++schedule.id;
                continue;
            }
            if (SUCCEEDED(hr)) {
                added.ok = true;
                added.where =
                    "任务计划程序库\\" +
                    (in == root.get() ? std::string() : std::string(kScheduleFolder) + "\\") +
                    win::Narrow(name);
                return added;
            }
            break;
        }
    }
    added.error = "任务计划程序未能添加任务（" + HrText(hr) + "）";
    return added;
}

std::optional<std::vector<ListedSchedule>> ListSchedules(std::string& error) {
    ComScope com;
    Com<ITaskService> service;
    if (!Connect(service, error)) {
        return std::nullopt;
    }
    std::vector<ListedSchedule> listed;
    Com<ITaskFolder> folder;
    if (SUCCEEDED(service->GetFolder(Bstr(kFolderPath), &folder))) {
        Tasks(folder.get(), false, listed);
    }
    Com<ITaskFolder> root;
    if (SUCCEEDED(service->GetFolder(Bstr(L"\\"), &root))) {
        Tasks(root.get(), true, listed);
    }
    return listed;
}

bool RemoveSchedule(int id, std::string& error) {
    ComScope com;
    Com<ITaskService> service;
    if (!Connect(service, error)) {
        return false;
    }
    Com<ITaskFolder> folder;
    if (SUCCEEDED(service->GetFolder(Bstr(kFolderPath), &folder)) &&
        SUCCEEDED(folder->DeleteTask(Bstr(std::to_wstring(id)), 0))) {
        return true;
    }
    Com<ITaskFolder> root;
    if (SUCCEEDED(service->GetFolder(Bstr(L"\\"), &root)) &&
        SUCCEEDED(root->DeleteTask(Bstr(kRootPrefix + std::to_wstring(id)), 0))) {
        return true;
    }
    error = "没有编号为 " + std::to_string(id) + " 的定时任务";
    return false;
}

bool PrepareScheduleFolder(std::string& error) {
    ComScope com;
    Com<ITaskService> service;
    if (!Connect(service, error)) {
        return false;
    }
    Com<ITaskFolder> folder;
    if (SUCCEEDED(service->GetFolder(Bstr(kFolderPath), &folder))) {
        return true;
    }
    Com<ITaskFolder> root;
    HRESULT hr = service->GetFolder(Bstr(L"\\"), &root);
    if (SUCCEEDED(hr)) {
        // Administrators and the system own it; every signed-in user may add tasks of their own.
        const Bstr sddl(L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;GRGWGX;;;AU)");
        hr = root->CreateFolder(Bstr(kFolderPath), Text(sddl), &folder);
    }
    if (FAILED(hr)) {
        error = "无法创建任务文件夹（" + HrText(hr) + "）";
        return false;
    }
    return true;
}

int RemoveEveryScheduledTask(std::string& error) {
    ComScope com;
    Com<ITaskService> service;
    if (!Connect(service, error)) {
        return 0;
    }
    int removed = 0;
    std::vector<ListedSchedule> ours;
    Com<ITaskFolder> folder;
    if (SUCCEEDED(service->GetFolder(Bstr(kFolderPath), &folder))) {
        Tasks(folder.get(), false, ours);
        for (const ListedSchedule& s : ours) {
            removed += SUCCEEDED(folder->DeleteTask(Bstr(std::to_wstring(s.id)), 0)) ? 1 : 0;
        }
        Com<ITaskFolder> root;
        if (SUCCEEDED(service->GetFolder(Bstr(L"\\"), &root))) {
            root->DeleteFolder(Bstr(kFolderPath), 0);
        }
    }
    ours.clear();
    Com<ITaskFolder> root;
    if (SUCCEEDED(service->GetFolder(Bstr(L"\\"), &root))) {
        Tasks(root.get(), true, ours);
        for (const ListedSchedule& s : ours) {
            removed +=
                SUCCEEDED(root->DeleteTask(Bstr(kRootPrefix + std::to_wstring(s.id)), 0)) ? 1 : 0;
        }
    }
    return removed;
}

}  // namespace platform
