// The rules that rewrite a thumbnail address into the full-size address by text alone.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/job_fakes.h"

namespace velnoria {
namespace {

using testing::FakeReply;
using testing::JobBench;
using testing::readFile;

struct RuleCase {
    std::string thumbnail;
    std::string url;   // "" when the rule declines
    std::string name;  // the file saved
};

void expectRule(const RuleCase& c) {
    JobBench bench;
    bench.fakeEngine.fallback = FakeReply::file("image bytes");
    bench.document.images = {c.thumbnail};
    bench.run();
    if (c.url.empty()) {
        EXPECT_TRUE(bench.fakeEngine.started.empty()) << c.thumbnail;
        return;
    }
    ASSERT_EQ(bench.fakeEngine.started.size(), 1u) << c.thumbnail;
    EXPECT_EQ(bench.fakeEngine.started[0], "GET " + c.url) << c.thumbnail;
    EXPECT_EQ(readFile(bench.saved(c.name)), "image bytes") << c.thumbnail << " as " << c.name;
}

TEST(RewriteRules, SlotsFiveToNine) {
    const RuleCase cases[] = {
        // ImageShack: every "th." goes, also inside the file name.
        {"http://img1.imageshack.us/img1/photo.th.jpg", "http://img1.imageshack.us/img1/photo.jpg",
         "photo.jpg"},
        {"http://img1.imageshack.us/img1/smith.th.jpg", "http://img1.imageshack.us/img1/smijpg",
         "smijpg"},
        {"http://img1.imageshack.us/img1/photo.jpg", "", ""},
        // Google user content.
        {"https://lh3.googleusercontent.com/abc/s128/pic.jpg",
         "https://lh3.googleusercontent.com/abc/d/pic.jpg", "pic.jpg"},
        {"https://lh3.googleusercontent.com/abc/s64/pic.jpg", "", ""},
        // OnSugar.
        {"http://media.onsugar.com/files/2010/pic.larger.jpg",
         "http://media.onsugar.com/files/2010/pic.jpg", "pic.jpg"},
        {"http://media.onsugar.com/files/2010/pic.jpg", "", ""},
        // HQCity: always taken, unchanged without "thumbs/"; the query stays in the name.
        {"http://www.hqcity.net/thumbs/a/b.jpg", "http://www.hqcity.net/hq/a/b.jpg", "b.jpg"},
        {"http://www.hqcity.net/pics/c.jpg?x=1", "http://www.hqcity.net/pics/c.jpg?x=1",
         "c.jpg?x=1"},
        // Skins: only from the thumbnail host.
        {"http://thumb.skins.be/x/y.jpg", "http://img.skins.be/x/y.jpg", "y.jpg"},
        {"http://www.skins.be/x/y.jpg", "", ""},
    };
    for (const auto& c : cases) expectRule(c);
}

TEST(RewriteRules, SlotsTenAndThirteenToSeventeen) {
    const RuleCase cases[] = {
        // Radikal.
        {"http://radikal.ru/F/abct.jpg", "http://radikal.ru/F/abc.jpg", "abc.jpg"},
        {"http://radikal.ru/F/abc.png", "", ""},
        // Photofile: "small/" removed, cut before "?", only without a query or with "?cid=".
        {"http://users.photofile.ru/photo/u/1/small/a.jpg",
         "http://users.photofile.ru/photo/u/1/a.jpg", "a.jpg"},
        {"http://users.photofile.ru/photo/u/1/small/a.jpg?cid=5",
         "http://users.photofile.ru/photo/u/1/a.jpg", "a.jpg"},
        {"http://users.photofile.ru/photo/u/1/small/a.jpg?x=1", "", ""},
        {"http://users.photofile.ru/photo/u/1/a.jpg", "", ""},
        // ShareNXS: named by the last "-" field; the image server only with "caba/".
        {"http://sharenxs.com/thumbnails/x/caba/y/ab12-name.jpg",
         "http://images.sharenxs.com/wz/caba/y/name.jpg", "name.jpg"},
        {"http://sharenxs.com/thumbnails/x/ab12-name.jpg",
         "http://sharenxs.com/thumbnails/x/name.jpg", "name.jpg"},
        {"http://sharenxs.com/view/ab12-name.jpg", "", ""},
        // Frillr.
        {"http://frillr.com/u/thumbnails/p.jpg", "http://frillr.com/u/images/p.jpg", "p.jpg"},
        {"http://frillr.com/u/p.jpg", "", ""},
        // Webshots: saved under the thumbnail's name.
        {"http://thumb7.webshots.com/t/x_th.jpg", "http://thumb7.webshots.com/t/x_fs.jpg",
         "x_th.jpg"},
        {"http://img.webshots.com/t/x_th.jpg", "", ""},
        // Yandex Fotki.
        {"http://img-fotki.yandex.ru/get/1/abc_S", "http://img-fotki.yandex.ru/get/1/abc_orig",
         "abc.jpg"},
        {"http://img-fotki.yandex.ru/get/1/abc-S.jpg",
         "http://img-fotki.yandex.ru/get/1/abc-orig.jpg", "abc.jpg.jpg"},
        {"http://img-fotki.yandex.ru/get/1/abc_s.jpg", "", ""},
    };
    for (const auto& c : cases) expectRule(c);
}

}  // namespace
}  // namespace velnoria
