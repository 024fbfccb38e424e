#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "model/EffectParameters.h"
#include "model/Localization.h"

using namespace tessoral;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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
    EXPECT_TRUE(parameters(EffectPreset::invert).empty());
    EXPECT_EQ(parameters(EffectPreset::parametricEQ).size(), 30u);
    EXPECT_EQ(parameters(EffectPreset::graphicEQ).size(), 10u);
    EXPECT_EQ(parameters(EffectPreset::compressor).size(), 5u);
}

TEST_F(EffectParametersTest, EqualiserRowsFollowTheBands) {
    const auto rows = parameters(EffectPreset::parametricEQ);
    EXPECT_EQ(rows[0].key, "hp.on");
    EXPECT_EQ(rows[0].title, "ФВЧ: вкл");
    EXPECT_EQ(rows[0].defaultValue, 0.0);  // high-pass starts off
    EXPECT_EQ(rows[1].key, "hp.f");
    EXPECT_EQ(rows[1].defaultValue, 40.0);
    EXPECT_EQ(rows[2].key, "hp.q");  // no gain for the high-pass
    EXPECT_EQ(rows[3].key, "ls.on");
    EXPECT_EQ(rows[3].defaultValue, 1.0);
    EXPECT_EQ(rows[5].key, "ls.g");
    EXPECT_EQ(rows[5].title, "НЧ-полка: усиление");
    EXPECT_EQ(rows.back().key, "lp.q");
    EXPECT_EQ(rows.back().title, "ФНЧ: добротность");
    EXPECT_TRUE(rows.back().unit.empty());

    const auto graphic = parameters(EffectPreset::graphicEQ);
    EXPECT_EQ(graphic[0].key, "g0");
    EXPECT_EQ(graphic[0].title, "31,5 Гц");
    EXPECT_EQ(graphic[9].key, "g9");
    EXPECT_EQ(graphic[9].title, "16 кГц");
    EXPECT_EQ(parameter(EffectPreset::chorus, "rate").title, "Частота");  // the "#rate" tag is not shown
}

TEST_F(EffectParametersTest, ValueSuppliesDefaultsTogglesAndClamps) {
    EXPECT_EQ(value(EffectPreset::chorus, "mix", {}), 35.0);
    EXPECT_EQ(value(EffectPreset::flanger, "mix", {}), 50.0);
    EXPECT_EQ(value(EffectPreset::parametricEQ, "hp.on", {{"hp.on", 0.4}}), 0.0);
    EXPECT_EQ(value(EffectPreset::parametricEQ, "hp.on", {{"hp.on", 0.5}}), 1.0);
    EXPECT_EQ(value(EffectPreset::parametricEQ, "ls.on", {{"ls.on", -3}}), 0.0);
    EXPECT_EQ(value(EffectPreset::parametricEQ, "ls.on", {{"ls.on", kNaN}}), 1.0);  // default on
    EXPECT_EQ(value(EffectPreset::chorus, "mix", {{"mix", kInf}}), 35.0);
    EXPECT_EQ(value(EffectPreset::chorus, "mix", {{"mix", -kInf}}), 35.0);
    EXPECT_EQ(value(EffectPreset::chorus, "mix", {{"mix", kNaN}}), 35.0);
    EXPECT_EQ(value(EffectPreset::chorus, "mix", {{"mix", 250}}), 100.0);
    EXPECT_EQ(value(EffectPreset::chorus, "mix", {{"mix", -1}}), 0.0);
    EXPECT_EQ(value(EffectPreset::parametricEQ, "p1.f", {{"p1.f", 30000}}), 20000.0);
    EXPECT_EQ(value(EffectPreset::parametricEQ, "p1.q", {{"p1.q", 0.01}}), 0.1);
    // A key the preset does not define comes back as stored, unchecked.
    EXPECT_EQ(value(EffectPreset::chorus, "other", {{"other", kInf}}), kInf);
    EXPECT_EQ(value(EffectPreset::chorus, "other", {{"other", 1e9}}), 1e9);
    EXPECT_EQ(value(EffectPreset::chorus, "other", {}), 0.0);
    EXPECT_EQ(value(EffectPreset::invert, "mix", {{"mix", 7}}), 7.0);
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
    const EffectParameter cutoff = parameter(EffectPreset::lowCut, "frequency");  // Гц
    const EffectParameter echoLowPass = parameter(EffectPreset::echo, "lowPass");
    EXPECT_EQ(echoLowPass.display(12345), "12.3 кГц");
    EXPECT_EQ(echoLowPass.display(1500), "1.50 кГц");
    EXPECT_EQ(echoLowPass.display(9999), "10.00 кГц");
    EXPECT_EQ(echoLowPass.display(10000), "10.0 кГц");
    EXPECT_EQ(echoLowPass.display(1e9), "20.0 кГц");  // clamped first
    EXPECT_EQ(cutoff.display(999), "500 Гц");
    EXPECT_EQ(cutoff.display(120), "120 Гц");
    EXPECT_EQ(cutoff.display(kNaN), "100 Гц");
    EXPECT_EQ(parameter(EffectPreset::chorus, "rate").display(0.7), "0.7 Гц");
    EXPECT_EQ(parameter(EffectPreset::voice, "presence").display(2.5), "2.5 дБ");
    EXPECT_EQ(parameter(EffectPreset::compressor, "release").display(120), "120 мс");
    EXPECT_EQ(parameter(EffectPreset::compressor, "threshold").display(-5), "-5 дБ");  // range spans 60
    EXPECT_EQ(parameter(EffectPreset::leveler, "target").display(-18), "-18 дБ");      // |v| ≥ 10
    EXPECT_EQ(parameter(EffectPreset::leveler, "target").display(-7.26), "-7.3 дБ");
    EXPECT_EQ(parameter(EffectPreset::chorus, "mix").display(5), "5 %");
    EXPECT_EQ(parameter(EffectPreset::parametricEQ, "p1.q").display(0.707), "0.7");
    const EffectParameter on = parameter(EffectPreset::parametricEQ, "ls.on");
    EXPECT_EQ(on.display(0.7), "вкл");
    EXPECT_EQ(on.display(0.3), "выкл");
    EXPECT_EQ(on.display(5), "вкл");  // toggles are not clamped, only compared
    EXPECT_EQ(on.display(kNaN), "вкл");
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

TEST_F(EffectParametersTest, ProcessingCasesLeaveOutTheEqualisers) {
    const auto cases = processingCases();
    ASSERT_EQ(cases.size(), 20u);
    EXPECT_EQ(cases.front(), EffectPreset::voice);
    EXPECT_EQ(cases.back(), EffectPreset::autoDenoise);
    for (std::size_t i = 1; i < cases.size(); ++i) EXPECT_LT(caseIndex(cases[i - 1]), caseIndex(cases[i]));
    for (EffectPreset preset : allCases<EffectPreset>())
        EXPECT_EQ(isEqualizer(preset), preset == EffectPreset::parametricEQ || preset == EffectPreset::graphicEQ);
}
