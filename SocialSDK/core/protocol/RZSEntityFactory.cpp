#include "SocialSDK/core/protocol/RZSEntityFactory.h"

#include <exception>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSFriendEntity.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "platform/Format.h"
#include "platform/NoDestructor.h"

namespace {

constexpr int kBarKind = 3;
constexpr int kAccountsKind = 10;
constexpr int kFriendsKind = 12;

std::optional<std::string> textOf(const platform::Value& value) {
    if (const std::string* s = value.string()) {
        return *s;
    }
    if (value.isNumber()) {
        return value.stringValue();
    }
    return std::nullopt;
}

void fillAccount(RAZududeAccountEntity& account, const platform::Value& fields) {
    account.setUserName(textOf(fields["username"]));
    account.setIconURL(textOf(fields["icon"]));
    account.setUsid(textOf(fields["usid"]));
    account.setProfileURL(textOf(fields["profile_url"]));
}

}  // namespace

RZSEntityFactory& RZSEntityFactory::sharedInstance() {
    static platform::NoDestructor<RZSEntityFactory> instance;
    return *instance;
}

RAZududeResponsePtr RZSEntityFactory::makeResponse(const platform::Map& envelope) {
    auto response = std::make_shared<RAZududeResponseEntity>();
    response->setResponseCode(envelope["st"].intValue());
    response->setMessage(textOf(envelope["msg"]));
    if (const platform::Map* data = envelope["data"].map()) {
        response->setData(*data);
    }
    response->setResponseType(config_);
    RZSDataManager::currentDataManager()->setResponseEntity(response);
    return response;
}

void RZSEntityFactory::saveObjects(const platform::Value& payload, const RZSJobParameters& params) {
    switch (config_) {
        case kBarKind:
            if (const platform::Map* bar = payload.map()) {
                makeSocialBarDataFromDictionary(*bar);
            } else {
                RAZududeUtils::outLog("server data error!! the bar reply holds no object");
            }
            break;
        case kAccountsKind:
            makeAccountDicFromDictionry(payload, params.accountsWhenAsked.get());
            break;
        case kFriendsKind:
            if (const platform::Map* friends = payload.map()) {
                if (const std::string* name = params.values["displayName"].string()) {
                    makeFriendDicFromDictioanry(*friends, *name);
                }
            }
            break;
        default:
            break;
    }
}

void RZSEntityFactory::makeSocialBarDataFromDictionary(const platform::Map& p) {
    // A reply without a usable user id keeps the one the device has.
    auto uid = textOf(p["uid"]);
    if (RZSUserManager::isUidAvailable(uid)) {
        RZSUserManager::shareInstance().setUid(uid);
    }
    // A reply without the item's key is no bar: the stored one stays.
    if (!p["ek"].string()) {
        RAZududeUtils::outLog("server data error!! the bar reply holds no entity key");
        return;
    }
    auto manager = RZSDataManager::currentDataManager();
    auto previous = manager->barEntity();
    auto bar = std::make_shared<RZSBarEntity>();
    bar->setCommentCount(p["cm"].intValue());
    bar->setLikeCount(p["lk"].intValue());
    bar->setViewCount(p["pv"].intValue());
    bar->setShareCount(p["sn"].intValue());
    bar->setSessionId(textOf(p["sid"]));
    if (p.contains("fr") && !p["fr"].isNull()) {
        bar->setIsLike(p["fr"].boolValue());
    }
    bar->setEntityKey(textOf(p["ek"]));
    bar->setShareText(previous->shareText());
    bar->setShareImage(previous->shareImage());
    bar->setCommentText(previous->commentText());
    bar->setCommentImage(previous->commentImage());
    bar->setUrlResource(previous->urlResource());
    bar->setExtConfig(previous->extConfig());
    manager->setBarEntity(std::move(bar));
}

void RZSEntityFactory::makeAccountDicFromDictionry(const platform::Value& payload,
                                                   const RAZududeAccountDictionary* whenAsked) {
    const platform::Map* p = payload.map();
    if (!p) {
        RAZududeUtils::outLog(
            "server data error!! for you must delete the original app after you change the "
            "appkey!! ");
        return;
    }
    try {
        auto& users = RZSUserManager::shareInstance();
        const RAZududeAccountDictionary& stored = users.snsAccountDictionary();
        RAZududeAccountDictionary accounts;
        for (const char* kept : {"facebook", "twitter"}) {
            if (auto it = stored.find(kept); it != stored.end()) {
                accounts.emplace(kept, it->second);
            }
        }
        if (whenAsked) {
            // Stored after the request left, so the reply cannot know of it yet.
            for (const auto& [name, account] : stored) {
                auto before = whenAsked->find(name);
                if (account && (before == whenAsked->end() || before->second != account)) {
                    accounts.emplace(name, account);
                }
            }
        }
        platform::Map commentShare;
        const platform::Map* listed = (*p)["accounts"].map();
        if (listed) {
            for (const auto& [name, fields] : *listed) {
                auto it = stored.find(name);
                if (it == stored.end()) {
                    continue;
                }
                auto account =
                    it->second ? it->second : std::make_shared<RAZududeAccountEntity>(name);
                fillAccount(*account, fields);
                accounts[name] = account;
                if (name == "sina" || name == "tencent" || name == "qzone" || name == "renren" ||
                    name == "douban") {
                    if (auto usid = textOf(fields["usid"])) {
                        commentShare.set(name, *usid);
                    }
                }
            }
        }
        if (auto defaultName = textOf((*p)["default"])) {
            auto account = std::make_shared<RAZududeAccountEntity>();
            account->setUserName(defaultName);
            account->setPlatformName(std::string("defaultAccount"));
            accounts["defaultAccount"] = account;
        }
        if (const platform::Map* login = (*p)["loginaccount"].map(); login && !login->empty()) {
            const auto& [name, fields] = *login->begin();
            auto account = std::make_shared<RAZududeAccountEntity>(name);
            fillAccount(*account, fields);
            accounts["loginAccount"] = account;
        }
        if (auto userName = textOf((*p)["username"])) {
            users.setUserName(userName);
        }
        RAZududeUtils::outLog([&] {
            std::string names;
            for (const auto& [name, account] : accounts) {
                names += name + " ";
            }
            return platform::format("newSnsAccount is %@", names);
        });
        users.setCommentShareAccountDic(std::move(commentShare));
        users.setSnsAccountDictionary(std::move(accounts));
    } catch (const std::exception& e) {
        RAZududeUtils::outLog(
            [&] { return platform::format("server data error!! exception is %@", e.what()); });
    }
}

void RZSEntityFactory::makeFriendDicFromDictioanry(const platform::Map& p,
                                                   const std::string& platformName) {
    RZSFriendDictionary friends;
    for (const auto& [usid, fields] : p) {
        auto entity = std::make_shared<RZSFriendEntity>();
        entity->setLinkName(textOf(fields["link_name"]));
        entity->setName(textOf(fields["name"]));
        entity->setImageURL(textOf(fields["profile_image_url"]));
        entity->setPinyin(textOf(fields["pinyin"]));
        entity->setUsid(usid);
        friends.emplace(usid, std::move(entity));
    }
    RZSUserManager::shareInstance().setFriendsDictionary(std::move(friends), platformName);
}
