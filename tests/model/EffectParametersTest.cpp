#include <gtest/gtest.h>

#include <set>

#include "model/EffectParameters.h"
#include "model/Localization.h"
#include "support/TestAudio.h"

using namespace tessoral;
using test::kInf, test::kNaN;

namespace {

EffectParameter parameter(EffectPreset preset, const std::string& key) {
    for (const EffectParameter& p : parameters(preset))
        if (p.key == key) return p;
    ADD_FAILURE() << "no parameter " << key;
    return {};
}

class EffectParametersTest : public ::testing::Test {
protected:
    void TearDown() override { Localization::use(AppLanguage::russian, {}); }
};

}  // namespace

TEST_F(EffectParametersTest, TableIsConsistentForEveryPreset) {
    for (EffectPreset preset : allCases<EffectPreset>()) {
        std::set<std::string> keys;
        for (const EffectParameter& p : parameters(preset)) {
            SCOPED_TRACE(std::string(rawValue(preset)) + " " + p.key);
            EXPECT_TRUE(keys.insert(p.key).second) << "duplicate key";
            EXPECT_LT(p.range.lower, p.range.upper);
            EXPECT_GE(p.defaultValue, p.range.lower);
            EXPECT_LE(p.defaultValue, p.range.upper);
            if (p.logarithmic) {
                EXPECT_GT(p.range.lower, 0.0);
            }
            EXPECT_EQ(p.toggle, preset == EffectPreset::parametricEQ && p.key.ends_with(".on"));
            EXPECT_FALSE(p.title.empty());
        }
    }
}

TEST_F(EffectParametersTest, ValueSuppliesDefaultsTogglesAndClamps) {
    struct Case {
        EffectPreset preset;
        const char* key;
        EffectParams stored;
        double expected;
    };
    using enum EffectPreset;
    const Case cases[] = {
        {chorus, "mix", {}, 35},  {flanger, "mix", {}, 50},
        {parametricEQ, "hp.on", {{"hp.on", 0.4}}, 0}, {parametricEQ, "hp.on", {{"hp.on", 0.5}}, 1},
        {parametricEQ, "ls.on", {{"ls.on", -3}}, 0},  {parametricEQ, "ls.on", {{"ls.on", kNaN}}, 1},  // default on
        {chorus, "mix", {{"mix", kInf}}, 35}, {chorus, "mix", {{"mix", -kInf}}, 35}, {chorus, "mix", {{"mix", kNaN}}, 35},
        {chorus, "mix", {{"mix", 250}}, 100}, {chorus, "mix", {{"mix", -1}}, 0},
        {parametricEQ, "p1.f", {{"p1.f", 30000}}, 20000}, {parametricEQ, "p1.q", {{"p1.q", 0.01}}, 0.1},
        // A key the preset does not define comes back as stored, unchecked.
        {chorus, "other", {{"other", kInf}}, kInf}, {chorus, "other", {{"other", 1e9}}, 1e9}, {chorus, "other", {}, 0},
        {invert, "mix", {{"mix", 7}}, 7},
    };
    for (const auto& c : cases) EXPECT_EQ(value(c.preset, c.key, c.stored), c.expected) << c.key;
}

TEST_F(EffectParametersTest, SanitizedKeepsOnlyPresentOwnKeysCleaned) {
    EXPECT_EQ(sanitized(EffectPreset::lowCut, {{"frequency", 5000}, {"other", 1}}),
              (EffectParams{{"frequency", 500}}));
    EXPECT_EQ(sanitized(EffectPreset::lowCut, {}), EffectParams{});
    EXPECT_EQ(sanitized(EffectPreset::chorus, {{"mix", kNaN}, {"rate", 0.0}}),
              (EffectParams{{"mix", 35}, {"rate", 0.1}}));
    EXPECT_EQ(sanitized(EffectPreset::parametricEQ, {{"hp.on", 0.7}, {"lp.on", 0.2}, {"x.on", 1}}),
              (EffectParams{{"hp.on", 1}, {"lp.on", 0}}));
    EXPECT_EQ(sanitized(EffectPreset::invert, {{"mix", 1}}), EffectParams{});
}

TEST_F(EffectParametersTest, SliderMapping) {
    const EffectParameter delay = parameter(EffectPreset::echo, "delay");  // 20…2000 ms, log
    EXPECT_NEAR(delay.value(0.5), 200.0, 1e-9);
    EXPECT_NEAR(delay.position(200.0), 0.5, 1e-12);
    EXPECT_EQ(delay.value(0.0), 20.0);
    EXPECT_NEAR(delay.value(1.0), 2000.0, 1e-9);
    EXPECT_EQ(delay.value(kNaN), 20.0);
    EXPECT_EQ(delay.value(-2.0), 20.0);
    EXPECT_NEAR(delay.value(7.0), 2000.0, 1e-9);
    EXPECT_NEAR(delay.position(kInf), delay.position(270.0), 1e-12);  // the default
    EXPECT_EQ(delay.position(1.0), 0.0);
    EXPECT_EQ(delay.position(1e6), 1.0);

    const EffectParameter target = parameter(EffectPreset::leveler, "target");  // −30…−6, linear
    EXPECT_EQ(target.value(0.5), -18.0);
    EXPECT_EQ(target.position(-12.0), 0.75);

    const EffectParameter on = parameter(EffectPreset::parametricEQ, "p2.on");
    EXPECT_EQ(on.position(0.7), 1.0);
    EXPECT_EQ(on.position(0.2), 0.0);
}

TEST_F(EffectParametersTest, DisplayTexts) {
    struct Case {
        EffectPreset preset;
        const char* key;
        double value;
        const char* text;
    };
    using enum EffectPreset;
    const Case cases[] = {
        {echo, "lowPass", 12345, "12.3 кГц"}, {echo, "lowPass", 1500, "1.50 кГц"},
        {echo, "lowPass", 9999, "10.00 кГц"}, {echo, "lowPass", 10000, "10.0 кГц"},
        {echo, "lowPass", 1e9, "20.0 кГц"},  // clamped first
        {lowCut, "frequency", 999, "500 Гц"}, {lowCut, "frequency", 120, "120 Гц"}, {lowCut, "frequency", kNaN, "100 Гц"},
        {chorus, "rate", 0.7, "0.7 Гц"}, {voice, "presence", 2.5, "2.5 дБ"}, {compressor, "release", 120, "120 мс"},
        {compressor, "threshold", -5, "-5 дБ"},  // the range spans 60
        {leveler, "target", -18, "-18 дБ"}, {leveler, "target", -7.26, "-7.3 дБ"}, {chorus, "mix", 5, "5 %"},
        {parametricEQ, "p1.q", 0.707, "0.7"}, {parametricEQ, "ls.on", 0.7, "вкл"}, {parametricEQ, "ls.on", 0.3, "выкл"},
        // Toggles are not clamped, only compared.
        {parametricEQ, "ls.on", 5, "вкл"}, {parametricEQ, "ls.on", kNaN, "вкл"},
    };
    for (const auto& c : cases) EXPECT_EQ(parameter(c.preset, c.key).display(c.value), c.text) << c.key << " " << c.value;
}

TEST_F(EffectParametersTest, DisplayComparesWithTheLocalisedUnit) {
    Localization::use(AppLanguage::english,
                      {{"Гц", "Hz"}, {"дБ", "dB"}, {"{0} кГц", "{0} kHz"}, {"вкл", "on"}});
    const EffectParameter echoLowPass = parameter(EffectPreset::echo, "lowPass");
    EXPECT_EQ(echoLowPass.unit, "Hz");
    EXPECT_EQ(echoLowPass.display(1500), "1.50 kHz");
    EXPECT_EQ(parameter(EffectPreset::voice, "presence").display(2.5), "2.5 dB");
    EXPECT_EQ(parameter(EffectPreset::parametricEQ, "hp.on").display(1), "on");
}
