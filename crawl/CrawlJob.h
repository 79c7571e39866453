#pragma once

#include <memory>
#include <string>

#include "crawl/Notification.h"
#include "crawl/RunControl.h"

inline constexpr int CRAWL_KIND_MEMBER = 1;
inline constexpr int CRAWL_MODE_PRECOLLECT = 1;
inline constexpr int CRAWL_MODE_COLLECT = 2;

// The settings a driver hands to one worker.
struct CrawlJob {
    std::shared_ptr<INotificationSink> pNotify;
    std::shared_ptr<RunControlWord> pRunControl;
    int nKind = CRAWL_KIND_MEMBER;
    int nMode = 0;
    int nStartPage = 1;
    int nLastPage = 0;
    std::string strCondition;  // GBK: industry "^" region, any length
    std::string strStorePath;  // the store that collected records are appended to
};
