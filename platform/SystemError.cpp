#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include "platform/windows/LastError.h"
#endif

namespace platform {

std::string ErrorText(int errnum) {
    const char* words = nullptr;
    switch (errnum) {
        case ENOENT:
            words = "没有这个文件或文件夹";
            break;
        case EACCES:
        case EPERM:
            words = "没有访问权限";
            break;
        case EROFS:
            words = "磁盘或文件夹是只读的";
            break;
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            words = "磁盘空间已满";
            break;
        case EISDIR:
            words = "这是一个文件夹，不是文件";
            break;
        case ENOTDIR:
            words = "路径中有一部分不是文件夹";
            break;
        case ENAMETOOLONG:
            words = "文件名太长";
            break;
        case EEXIST:
            words = "文件已经存在";
            break;
        case EBUSY:
#ifdef ETXTBSY
        case ETXTBSY:
#endif
            words = "文件正被其他程序使用";
            break;
        case EIO:
            words = "磁盘读写错误";
            break;
        case EMFILE:
        case ENFILE:
            words = "打开的文件太多";
            break;
        case EXDEV:
            words = "不能跨磁盘移动文件";
            break;
        default:
            break;
    }
#ifdef _WIN32
    // Windows' own words for the failure, where a Windows call is what failed.
    std::string system = win::RememberedErrorText(errnum);
    if (system.empty()) {
        system = std::strerror(errnum);
    }
#else
    const std::string system = std::strerror(errnum);
#endif
    return words == nullptr ? system : std::string(words) + "（" + system + "）";
}

}  // namespace platform
