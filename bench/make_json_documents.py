"""Writes the JSON documents that json_bench measures into the folder given: three shapes that
parsers and writers meet, made the same way on every run (a fixed seed), so that no one needs
documents from elsewhere.

  numbers.json   a map of polygons: long arrays of pairs of reals with many digits
  catalog.json   events, seats and prices: nested objects keyed by numeric ids, many integers
  messages.json  posts with their users: strings with escapes and text beyond ASCII, booleans
                 and nulls
"""

import json
import os
import random
import sys


def numbers(rng):
    features = []
    for _ in range(6):
        ring = [[round(rng.uniform(-180, 180), 15), round(rng.uniform(-90, 90), 15)]
                for _ in range(9000)]
        features.append({"type": "Feature", "properties": {"name": "region"},
                         "geometry": {"type": "Polygon", "coordinates": [ring]}})
    return {"type": "FeatureCollection", "features": features}


def catalog(rng):
    events = {}
    for i in range(1000):
        eid = str(138586341 + i * 17)
        events[eid] = {"description": None, "id": int(eid), "logo": None,
                       "name": "Concert %d" % i, "subTopicIds": [rng.randrange(10 ** 9)
                                                                for _ in range(4)],
                       "subjectCode": None, "subtitle": None,
                       "topicIds": [rng.randrange(10 ** 9) for _ in range(3)]}
    performances = [{"eventId": 138586341 + i * 17, "id": 339887544 + i,
                     "prices": [{"amount": rng.randrange(9000, 190000), "audienceSubCategoryId":
                                 337100890, "seatCategoryId": 338937295 + k} for k in range(6)],
                     "seatCategories": [{"areas": [{"areaId": 205705993 + a, "blockIds": []}
                                                   for a in range(8)], "seatCategoryId":
                                         338937295 + k} for k in range(4)],
                     "start": 1372615200000 + i * 86400000, "venueCode": "PLEYEL_PLEYEL"}
                    for i in range(240)]
    return {"events": events, "performances": performances,
            "areaNames": {str(205705993 + a): "Area %d" % a for a in range(40)}}


def messages(rng):
    words = ["ciel", "\u6771\u4eac", "caf\u00e9", "line\nbreak", "quote\"d", "tab\tbed",
             "\U0001F600", "back\\slash", "plain", "\u041c\u043e\u0441\u043a\u0432\u0430"]
    statuses = []
    for i in range(600):
        text = " ".join(rng.choice(words) for _ in range(rng.randrange(5, 30)))
        statuses.append({
            "created_at": "Sun Aug 31 00:29:%02d +0000 2014" % (i % 60),
            "id": 505874924095815681 + i, "id_str": str(505874924095815681 + i), "text": text,
            "truncated": False, "in_reply_to_status_id": None, "favorited": bool(i % 3),
            "entities": {"hashtags": [], "urls": [], "user_mentions": [
                {"screen_name": "user%d" % k, "indices": [k, k + 9]} for k in range(i % 4)]},
            "user": {"id": 1186275104 + i, "name": rng.choice(words), "followers_count":
                     rng.randrange(10 ** 6), "description": text[:80], "verified": False,
                     "profile_image_url": "http://127.0.0.1/profile/%d.png" % i},
            "retweet_count": rng.randrange(1000), "lang": "ja"})
    return {"statuses": statuses, "search_metadata": {"count": len(statuses),
                                                      "query": "%E4%B8%80"}}


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, make in (("numbers", numbers), ("catalog", catalog), ("messages", messages)):
        path = os.path.join(folder, name + ".json")
        with open(path + ".tmp", "w", encoding="utf-8") as out:
            json.dump(make(random.Random(name)), out, ensure_ascii=False, indent=1)
        os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
