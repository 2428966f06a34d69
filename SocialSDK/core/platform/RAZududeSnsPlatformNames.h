// The names of the share platforms: each is the platform's key everywhere (registry,
// per-platform content, usage records, request parameters).
#pragma once

inline constexpr char RZShareToSina[] = "sina";
inline constexpr char RZShareToQzone[] = "qzone";
inline constexpr char RZShareToTencent[] = "tencent";
inline constexpr char RZShareToRenren[] = "renren";
inline constexpr char RZShareToDouban[] = "douban";
inline constexpr char RZShareToWechatSession[] = "wxsession";
inline constexpr char RZShareToWechatTimeline[] = "wxtimeline";
inline constexpr char RZShareToWechatFavorite[] = "wxfavorite";
inline constexpr char RZShareToEmail[] = "email";
inline constexpr char RZShareToSms[] = "sms";
inline constexpr char RZShareToQQ[] = "qq";
inline constexpr char RZShareToFacebook[] = "facebook";
inline constexpr char RZShareToTwitter[] = "twitter";
// Names without a platform object or a handler: looking them up finds nothing.
inline constexpr char RZShareToAlipaySession[] = "alipaysession";
inline constexpr char RZShareToYXSession[] = "yixin";
inline constexpr char RZShareToYXTimeline[] = "yixin_circle";
inline constexpr char RZShareToLWSession[] = "laiwang";
inline constexpr char RZShareToLWTimeline[] = "laiwang_dynamic";
inline constexpr char RZShareToInstagram[] = "instagram";
inline constexpr char RZShareToTumblr[] = "tumblr";
inline constexpr char RZShareToWhatsapp[] = "whatsapp";
inline constexpr char RZShareToLine[] = "line";

// The type of each platform the share service and its handlers build (shareToType). The app's
// own platforms take types from kRAZududeSnsPlatformFirstAppType up.
enum RAZududeSnsPlatformType : int {
    kRAZududeSnsPlatformSina = 9,
    kRAZududeSnsPlatformQzone = 10,
    kRAZududeSnsPlatformTencent = 11,
    kRAZududeSnsPlatformRenren = 12,
    kRAZududeSnsPlatformDouban = 13,
    kRAZududeSnsPlatformWechatSession = 14,
    kRAZududeSnsPlatformWechatTimeline = 15,
    kRAZududeSnsPlatformWechatFavorite = 16,
    kRAZududeSnsPlatformEmail = 17,
    kRAZududeSnsPlatformSms = 18,
    kRAZududeSnsPlatformQQ = 19,
    kRAZududeSnsPlatformFacebook = 20,
    kRAZududeSnsPlatformTwitter = 21,
    kRAZududeSnsPlatformFirstAppType = 34,
};

// Keys of the account dictionary that are not platforms.
inline constexpr char RZLoginAccountKey[] = "loginAccount";
inline constexpr char RZDefaultAccountKey[] = "defaultAccount";
