// Test helper: restriction trees built by hand, for the tests of tables and of
// restriction text.
#pragma once

#include <deque>
#include <initializer_list>
#include <vector>

#include "platform/mapi/mapi.h"
#include "server/mapi/mapi_prop_value.h"

namespace adaptertest {

// Builds restriction trees whose parts live as long as the builder.
class RestrictionTree {
public:
    SPropValue* Str(ULONG tag, const char* text) {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.lpszA = const_cast<char*>(text);
        return &v;
    }
    SPropValue* Wide(ULONG tag, const char16_t* text) {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.lpszW = const_cast<char16_t*>(text);
        return &v;
    }
    SPropValue* Long(ULONG tag, LONG value) {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.l = value;
        return &v;
    }
    SPropValue* Time(ULONG tag, int year, int month, int day) {
        SPropValue& v = values_.emplace_back();
        v.ulPropTag = tag;
        v.Value.ft = UtcToFileTime({year, month, day, 10, 30, 0, 0});
        return &v;
    }
    SRestriction* Property(ULONG relop, ULONG tag, SPropValue* value) {
        SRestriction& r = *New(RES_PROPERTY);
        r.res.resProperty = {relop, tag, value};
        return &r;
    }
    SRestriction* Content(ULONG fuzzy, ULONG tag, SPropValue* value) {
        SRestriction& r = *New(RES_CONTENT);
        r.res.resContent = {fuzzy, tag, value};
        return &r;
    }
    // AND / OR need their parts side by side.
    SRestriction* List(ULONG rt, std::initializer_list<SRestriction*> parts) {
        std::vector<SRestriction>& block = arrays_.emplace_back();
        for (SRestriction* p : parts) block.push_back(*p);
        SRestriction& r = *New(rt);
        if (rt == RES_AND)
            r.res.resAnd = {static_cast<ULONG>(parts.size()), arrays_.back().data()};
        else
            r.res.resOr = {static_cast<ULONG>(parts.size()), arrays_.back().data()};
        return &r;
    }
    SRestriction* Not(SRestriction* inner) {
        SRestriction& r = *New(RES_NOT);
        r.res.resNot = {0, inner};
        return &r;
    }
    SRestriction* New(ULONG rt) {
        SRestriction& r = restrictions_.emplace_back();
        r.rt = rt;
        return &r;
    }

private:
    std::deque<SPropValue> values_;
    std::deque<SRestriction> restrictions_;
    std::deque<std::vector<SRestriction>> arrays_;
};

}  // namespace adaptertest
