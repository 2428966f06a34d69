#include "SocialSDK/core/protocol/RAZududeJobFactory.h"

#include <cmath>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "SocialSDK/core/manager/RZSCommentEntity.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/protocol/RZSProtocol.h"
#include "SocialSDK/core/protocol/RZSSNSEntity.h"
#include "platform/Format.h"
#include "platform/Log.h"
#include "platform/NoDestructor.h"
#include "platform/Url.h"

namespace {

using Text = std::optional<std::string>;

Text textParam(const RZSJobParameters& params, std::string_view key) {
    const platform::Value& value = params.values[key];
    if (const std::string* s = value.string()) {
        return *s;
    }
    if (value.isNumber()) {
        return value.stringValue();
    }
    return std::nullopt;
}

// A nil value leaves the key out, as the share service's bodies have always done.
void setText(platform::Map& body, std::string_view key, const Text& value) {
    if (value) {
        body.set(key, *value);
    } else {
        body.erase(key);
    }
}

Text usidOf(const Text& platformName) {
    if (!platformName) {
        return std::nullopt;
    }
    auto& accounts = RZSUserManager::shareInstance().snsAccountDictionary();
    auto it = accounts.find(*platformName);
    return it != accounts.end() && it->second ? it->second->usid() : std::nullopt;
}

std::string locationText(const platform::Location& location) {
    return platform::format("(%f,%f)", location.longitude, location.latitude);
}

long long nowMillis() {
    return static_cast<long long>(std::floor(platform::Date::now().timeIntervalSince1970() * 1000));
}

// Every character last to first (UTF-8 sequences kept whole).
std::string reversedText(const std::string& text) {
    std::vector<std::string> characters;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = 1;
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead >= 0xF0) {
            length = 4;
        } else if (lead >= 0xE0) {
            length = 3;
        } else if (lead >= 0xC0) {
            length = 2;
        }
        characters.push_back(text.substr(i, length));
        i += length;
    }
    std::string reversed;
    reversed.reserve(text.size());
    for (auto it = characters.rbegin(); it != characters.rend(); ++it) {
        reversed += *it;
    }
    return reversed;
}

// A value that goes into a query as it stands must not bring its own "&", "=" or "#".
std::string queryValue(const std::string& text) {
    return platform::percentEncode(text, "-_.");
}

std::shared_ptr<RZSDataManager> current() {
    return RZSDataManager::currentDataManager();
}

}  // namespace

RAZududeJobFactory& RAZududeJobFactory::sharedInstance() {
    static platform::NoDestructor<RAZududeJobFactory> instance;
    return *instance;
}

std::string RAZududeJobFactory::getEntityKey() {
    return current()->barEntity()->entityKey().value_or("-1");
}

RAZududeJobPtr RAZududeJobFactory::createVirtualSocialJob(int kind,
                                                          const RZSJobParameters& params) {
    auto job = std::make_shared<RAZududeJob>();
    job->setActionType(kind);
    job->setParamDic(params);
    return job;
}

RAZududeJobPtr RAZududeJobFactory::createSocialJob(int kind, const RZSJobParameters& params) {
    auto& protocol = RZSProtocol::sharedInstance();
    std::string query = protocol.baseString();
    const Text appkey = RZSDataManagerSet::shareInstance().appkey();
    const std::string entityKey = getEntityKey();
    if (appkey && appkey->empty()) {
        platform::consoleLog(
            "Zizoz SocialSDK --- You haven't set the Zizoz Appkey,please use [RAZududeData "
            "setAppKey:@\"4e2b91c07d5a38f6a10c9e73\"]; before you use other APIs.");
        return nullptr;
    }
    const Text uid = RZSUserManager::shareInstance().uid();
    RAZududeUtils::outLog([&] { return platform::format("createSocialAction uid is %@", uid); });
    auto job = std::make_shared<RAZududeJob>();

    const Text displayName = textParam(params, "displayName");
    Text path;
    std::optional<platform::Map> body;
    RAZududeShareImage pic;
    int networkType = RAZududeJob::kNetworkPost;
    auto takeBody = [&](Body built) {
        body = std::move(built.values);
        pic = std::move(built.pic);
        networkType = pic ? RAZududeJob::kNetworkMultipartPost : RAZududeJob::kNetworkPost;
    };

    switch (kind) {
        case 0:
            path = platform::format("comment/add/%@/%@/", appkey, entityKey);
            takeBody(getPostCommentBaseDictionary());
            break;
        case 1:
            path = platform::format("like/update/%@/%@/", appkey, entityKey);
            body = getPostLikeBaseDictionary(params.values["like"]).values;
            break;
        case 2:
            query += platform::format(
                "&%@=%@&%@=%@&%@=%@", "sid", current()->barEntity()->sessionId(), "lct",
                textParam(params, "lastCommentTime").value_or("-1"), "opid", "2");
            path = platform::format("comment/get/%@/%@/?%@", appkey, entityKey, query);
            networkType = RAZududeJob::kNetworkGet;
            break;
        case 3: {
            query += platform::format("&%@=%@&%@=%@&%@=%@", "dc", textParam(params, "descriptor"),
                                      "ni", protocol.firstUse(), "opid", "1");
            if (auto title = textParam(params, "title")) {
                query += platform::format("&%@=%@", "name", queryValue(*title));
            }
            path = platform::format("bar/get/%@/?%@", appkey, query);
            networkType = RAZududeJob::kNetworkGet;
            break;
        }
        case 4:
            path = platform::format("share/add/%@/%@/", appkey, entityKey);
            takeBody(getPostShareBaseDictionary(textParam(params, "snsType").value_or("")));
            break;
        case 5:
            path = platform::format("share/multi_add/%@/%@/", appkey, entityKey);
            takeBody(getPostShareMultiBaseDictionary(params));
            break;
        case 6:
            path = platform::format("comment/binding/%@/", appkey);
            body = getBindingBaseDictionary(displayName.value_or("")).values;
            break;
        case 7:
            path = platform::format("comment/unbinding/%@/", appkey);
            body = protocol.baseDictionary();
            setText(*body, "uid", uid);
            body->set("opid", "16");
            break;
        case 8:
            path = platform::format("share/auth_delete/%@/", appkey);
            body = protocol.baseDictionary();
            body->set("opid", "15");
            setText(*body, "uid", uid);
            setText(*body, "via", displayName);
            break;
        case 9:
            query += platform::format("&%@=%@&%@=%@", "via", displayName, "opid", "10");
            path = platform::format("share/auth/%@/%@?%@", appkey, entityKey, query);
            body = protocol.baseDictionary();
            networkType = RAZududeJob::kNetworkNone;
            break;
        case 10:
            path = platform::format("user/profile/get/%@/%@/?%@", appkey, uid, query);
            networkType = RAZududeJob::kNetworkGet;
            break;
        case 11:
            query += platform::format("&sns=%@&%@=%@", displayName, "opid", "12");
            path = platform::format("share/userinfo/%@/%@/?%@", appkey, usidOf(displayName), query);
            networkType = RAZududeJob::kNetworkGet;
            break;
        case 12:
            query += platform::format("&to=%@", displayName);
            path = platform::format("share/friends/%@/%@/?%@", appkey, usidOf(displayName), query);
            networkType = RAZududeJob::kNetworkGet;
            break;
        case 13:
            path = platform::format("share/follow/%@/%@/", appkey, usidOf(displayName));
            body = protocol.baseDictionary();
            setText(*body, "fusid", textParam(params, "fusid"));
            setText(*body, "to", displayName);
            break;
        case 14:
            path = platform::format("/user/custom_account/%@/%@/", appkey, uid);
            body = params.customAccount ? getCustomAccountDictionary(*params.customAccount)
                                        : protocol.baseDictionary();
            break;
        case 15:
            path = platform::format("/share/token/%@/", appkey);
            body = params.snsAccount ? getTokenDictionary(*params.snsAccount)
                                     : protocol.baseDictionary();
            break;
        case 16:
            path = platform::format(
                "/share/keysecret/%@/?%@&%@", appkey, query,
                RAZududeConfig::shareInstance().forCocos2dx() ? "use_coco2dx=1" : "use_coco2dx=0");
            networkType = RAZududeJob::kNetworkGet;
            break;
        case 17:
            query += platform::format("&platforms=%@", textParam(params, "platforms"));
            path = platform::format("share/validate_token/%@/?%@", appkey, query);
            networkType = RAZududeJob::kNetworkGet;
            break;
        case 18: {
            path = platform::format("/app/oper/%@/", appkey);
            body = platform::Map();
            auto json = RAZududeUtils::JSONFragment(params.values["opDic"]);
            setText(*body, "param", json);
            setText(*body, "uid", uid);
            break;
        }
        case 19: {
            path = platform::format("/share/keysecret/%@/", appkey);
            body = protocol.baseDictionary();
            if (const platform::Map* info = params.values["appInfo"].map()) {
                for (const auto& [key, value] : *info) {
                    body->set(key, value);
                }
            }
            body->set("zizoz_secret", reversedText(appkey.value_or("")));
            break;
        }
        case 20: {
            path = platform::format("/link/add/%@/", appkey);
            const platform::Map* link = params.values["opDic"].map();
            body = link ? *link : platform::Map();
            setText(*body, "ak", appkey);
            body->set("ek", entityKey);
            break;
        }
        default:
            networkType = RAZududeJob::kNetworkNone;
            break;
    }

    job->setActionType(kind);
    job->setPathString(std::move(path));
    job->setBaseDic(networkType == RAZududeJob::kNetworkGet ? std::nullopt : std::move(body));
    job->setShareImage(std::move(pic));
    job->setNetworkType(networkType);
    job->setParamDic(params);
    job->setCompletion(params.completion);
    return job;
}

// ---- bodies ----------------------------------------------------------------------------

RAZududeJobFactory::Body RAZududeJobFactory::getPostCommentBaseDictionary() {
    Body body{RZSProtocol::sharedInstance().baseDictionary(), {}};
    auto& values = body.values;
    values.set("opid", "5");
    const std::string time = platform::format("%lld", nowMillis());
    auto manager = current();
    auto comment = manager->currentComment();
    if (comment && comment->location()) {
        values.set("lc", locationText(*comment->location()));
    }
    const auto& shareAccounts = RZSUserManager::shareInstance().commentShareAccountDic();
    if (!shareAccounts.empty()) {
        setText(values, "sns", RAZududeUtils::JSONFragment(platform::Value(shareAccounts)));
    }
    setText(values, "ct", comment ? comment->content() : std::nullopt);
    auto bar = manager->barEntity();
    setText(values, "tpt", bar->commentText());
    if (bar->commentImage() &&
        (!shareAccounts.empty() || RZSProtocol::sharedInstance().typeString() == "1")) {
        body.pic = RAZududeShareImage(bar->commentImage());
    }
    values.set("dt", time);
    return body;
}

RAZududeJobFactory::Body RAZududeJobFactory::getPostLikeBaseDictionary(
    const platform::Value& like) {
    Body body{RZSProtocol::sharedInstance().baseDictionary(), {}};
    auto& values = body.values;
    values.set("opid", "6");
    setText(values, "sid", current()->barEntity()->sessionId());
    setText(values, "uid", RZSUserManager::shareInstance().uid());
    if (!like.isNull()) {
        values.set("st", like.string() ? like : platform::Value(like.stringValue()));
    }
    return body;
}

RAZududeJobFactory::Body RAZududeJobFactory::getPostShareBaseDictionary(
    const std::string& platformName) {
    Body body{RZSProtocol::sharedInstance().baseDictionary(), {}};
    auto& values = body.values;
    values.set("opid", "9");
    values.erase("ct");
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(platformName);
    Text name = platform ? Text(platform->platformName()) : std::nullopt;
    Text usid = usidOf(name);
    auto manager = current();
    auto bar = manager->barEntity();
    auto share = manager->snsEntity();
    auto holder = name ? bar->getSnsData(*name) : nullptr;
    if (holder && holder->shareText()) {
        values.set("ct", *holder->shareText());
    } else {
        setText(values, "ct", share ? share->shareText() : std::nullopt);
    }
    if (bar->shareImage() && share && share->isSendImage()) {
        body.pic = bar->shareImage();
    }
    if (share && share->location()) {
        values.set("lc", locationText(*share->location()));
    }
    setText(values, "to", name);
    setText(values, "usid", usid);
    RAZududeUtils::outLog(
        [&] { return platform::format("share's baseDic is %@", platform::Value(values)); });
    return body;
}

RAZududeJobFactory::Body RAZududeJobFactory::getPostShareMultiBaseDictionary(
    const RZSJobParameters& params) {
    Body body{RZSProtocol::sharedInstance().baseDictionary(), {}};
    auto& values = body.values;
    auto manager = current();
    auto share = manager->snsEntity();
    auto bar = manager->barEntity();
    values.set("opid", "17");
    values.erase("ct");
    if (share && share->shareText()) {
        values.set("ct", *share->shareText());
    }
    if (share && share->shareImage() && share->isSendImage()) {
        body.pic = share->shareImage();
    }
    if (share && share->urlResource() && share->isSendUrlResource() &&
        share->urlResource()->resourceType() != kRAZududeUrlResourceTypeDefault) {
        const auto& resource = *share->urlResource();
        setText(values, "furl", resource.url());
        values.set("ftype", platform::format("%d", resource.resourceType() - 1));
        if (bar->extConfig() && bar->extConfig()->tencentData()) {
            const auto& tencent = *bar->extConfig()->tencentData();
            if (tencent.title()) {
                values.set("title", *tencent.title());
            }
            if (tencent.author()) {
                values.set("author", *tencent.author());
            }
        }
    }
    if (share && share->location()) {
        values.set("lc", locationText(*share->location()));
    }
    if (bar->extConfig() && bar->extConfig()->renrenData()) {
        const auto& renren = *bar->extConfig()->renrenData();
        platform::Map ext;
        if (renren.url()) {
            ext.set("app_website", *renren.url());
        }
        if (renren.appName()) {
            ext.set("app_name", *renren.appName());
        }
        if (!ext.empty()) {
            setText(values, "ext", RAZududeUtils::JSONFragment(platform::Value(std::move(ext))));
        }
    }
    values.set("type", share && share->isShake() ? "shake" : "common");
    setText(values, "Cocos2d-x", RZSDataManagerSet::shareInstance().cocos2dxVersion());

    platform::Map sns;
    if (const platform::Array* names = params.values["snsNames"].array()) {
        for (const platform::Value& item : *names) {
            const std::string* name = item.string();
            if (!name) {
                continue;
            }
            auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(*name);
            const int type = RAZududeSnsPlatformManagerInternal::getSnsPlatformType(*name);
            const bool viaPlatformApp = (platform && type != 11 && type != 12 && type != 13) ||
                                        *name == "wxsession" || *name == "wxtimeline";
            if (viaPlatformApp) {
                sns.set(*name, "");
                values.set("tp", "1");
            } else if (auto usid = usidOf(*name)) {
                sns.set(*name, *usid);
            }
        }
    }
    setText(values, "sns", RAZududeUtils::JSONFragment(platform::Value(std::move(sns))));
    return body;
}

RAZududeJobFactory::Body RAZududeJobFactory::getBindingBaseDictionary(
    const std::string& platformName) {
    Body body{RZSProtocol::sharedInstance().baseDictionary(), {}};
    auto& values = body.values;
    values.set("opid", "13");
    setText(values, "uid", RZSUserManager::shareInstance().uid());
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(platformName);
    setText(values, "sns", platform ? Text(platform->platformName()) : std::nullopt);
    return body;
}

platform::Map RAZududeJobFactory::getCustomAccountDictionary(const RAZududeCustomAccount& account) {
    platform::Map values = RZSProtocol::sharedInstance().baseDictionary();
    setText(values, "username", account.userName());
    if (account.usid()) {
        values.set("usid", *account.usid());
    }
    if (account.gender()) {
        if (*account.gender() == "male") {
            values.set("gender", "1");
        } else if (*account.gender() == "female") {
            values.set("gender", "0");
        } else {
            RAZududeUtils::outLog("add custom account gender error!");
        }
    }
    if (account.birthday()) {
        values.set("birthday", platform::Value(*account.birthday()).description());
    }
    if (account.customData()) {
        setText(values, "extend",
                RAZududeUtils::JSONFragment(platform::Value(*account.customData())));
    }
    if (account.iconUrl()) {
        values.set("icon", *account.iconUrl());
    }
    return values;
}

platform::Map RAZududeJobFactory::getTokenDictionary(const RAZududeAccountEntity& account) {
    platform::Map values = RZSProtocol::sharedInstance().baseDictionary();
    const Text& name = account.platformName();
    setText(values, "to", name);
    if (account.accessToken()) {
        values.set("access_token", *account.accessToken());
    } else {
        RAZududeUtils::outLog("You must set accessToken!");
    }
    if (account.usid()) {
        values.set("usid", *account.usid());
    } else if (name == "sina") {
        RAZududeUtils::outLog("You must set usid if you use a sina weibo account!");
    }
    if (account.openId()) {
        values.set("openid", *account.openId());
        values.set("usid", *account.openId());
    } else if (name == "tencent" || name == "qzone") {
        RAZududeUtils::outLog("you must set openid if you usd a tencent weibo or qzone account!");
    }
    if (account.expirationDate()) {
        const double seconds = account.expirationDate()->timeIntervalSince1970() -
                               platform::Date::now().timeIntervalSince1970();
        values.set("expires_in", platform::format("%d", static_cast<int>(seconds)));
    }
    if (account.refreshToken()) {
        values.set("refresh_token", *account.refreshToken());
    }
    const char* handlerClass = nullptr;
    if (name == "qzone" || name == "qq") {
        handlerClass = "RAZududeQQHandler";
    } else if (name == "wxsession") {
        handlerClass = "RAZududeWechatHandler";
    } else if (name == "sina") {
        handlerClass = "RAZududeSinaSSOHandler";
    }
    if (handlerClass) {
        if (auto handler = RAZududeHandlerRegistry::shareInstanceOf(handlerClass)) {
            setText(values, "app_id", handler->tokenAppId());
            setText(values, "app_secret", handler->tokenAppSecret());
        }
    }
    return values;
}
