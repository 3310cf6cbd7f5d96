// Exchange files: the header, every record, and the object-data container that
// a reader keeps beside them (attributes of "v" records in the scopes of "{"
// and "}", numbers for unnamed objects and methods, the axis-name block). An
// odd first byte puts a valid header in front of the rest, so that the records
// are reached without first finding the header.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzzhelp.h"
#include "kernel/base/kvx/kvxobj.h"

namespace {

constexpr char kHeader[] = "kVX-Exchange-File\nkVX-Version: 1.0\nfuzz\n;\n";

void checkRecord(const KvxRecord& r, int64_t fileSize) {
    fuzzCheck(r.type == 'v' || r.type == 'o' || r.type == 'm' || r.type == '{' || r.type == '}',
              "a record of an unknown type");
    fuzzCheck(!r.file || (r.type == 'm' && r.bodyStart >= 0 && r.bodyEnd > r.bodyStart),
              "a body left in the file has no range");
    fuzzCheck(!r.file || r.bodyEnd <= fileSize, "a body range runs past the file");
    for (const KvxParam* p = r.params; p; p = p->next) fuzzCheck(p->key || p->value, "an empty parameter");
}

// What the container must hold, kept the plain way: each scope starts from a
// copy of the attributes outside it and closing it brings that copy back.
struct Model {
    std::map<std::string, std::string> attrs = {{kKvxObjectCounter, "1"}, {kKvxMethodCounter, "1"}};
    std::vector<std::map<std::string, std::string>> outer;
    uint32_t objects = 1, methods = 1;

    static uint32_t number(const std::string& text) {
        return static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10));
    }
    void set(const std::string& name, const std::string& value) {
        if (name == kKvxObjectCounter) objects = number(value);
        if (name == kKvxMethodCounter) methods = number(value);
        attrs[name] = value;
    }
    void push() {
        attrs[kKvxObjectCounter] = std::to_string(objects);
        attrs[kKvxMethodCounter] = std::to_string(methods);
        outer.push_back(attrs);
        set(kKvxObjectCounter, "1");
        set(kKvxMethodCounter, "1");
    }
    void pop() {
        if (outer.empty()) return;
        attrs = std::move(outer.back());
        outer.pop_back();
        objects = number(attrs[kKvxObjectCounter]);
        methods = number(attrs[kKvxMethodCounter]);
    }
};

void apply(KvxObjData* obj, Model& model, KvxNames* names, KvxRecord* r) {
    switch (r->type) {
        case 'v':
            if (r->name && r->id) {
                kvxObjSetAttr(obj, r->name, r->id);
                model.set(r->name, r->id);
            }
            break;
        case '{':
            fuzzCheck(kvxObjPushLevel(obj) == 1, "a scope could not be opened");
            model.push();
            break;
        case '}':
            fuzzCheck(kvxObjPopLevel(obj) == (model.outer.empty() ? 0 : 1), "a scope closed wrongly");
            model.pop();
            break;
        case 'o': {
            bool named = r->id != nullptr;
            kvxAssignObjectId(obj, r);
            fuzzCheck(named || (r->id && Model::number(r->id) == model.objects),
                      "an object got a wrong number");
            ++model.objects;
            kvxRecordToNames(names, r);
            for (const auto& slot : names->names)
                fuzzCheck(memchr(slot, '\0', kKvxNameSize), "a name overran its slot");
            break;
        }
        case 'm': {
            bool named = r->id != nullptr;
            kvxAssignMethodId(obj, r);
            fuzzCheck(named || (r->id && Model::number(r->id) == model.methods),
                      "a method got a wrong number");
            ++model.methods;
            break;
        }
    }
}

void compare(const KvxObjData* obj, const Model& model) {
    fuzzCheck(obj->level == model.outer.size() + 1, "the scope level lost count");
    fuzzCheck(obj->objectCounter == model.objects && obj->methodCounter == model.methods,
              "a counter lost count");
    size_t count = 0;
    for (const KvxAttr* a = obj->attrs; a; a = a->next) ++count;
    fuzzCheck(count == model.attrs.size(), "an attribute outlived its scope or was lost");
    for (const auto& [name, value] : model.attrs) {
        char* held = kvxObjGetAttr(obj, name.c_str());
        fuzzCheck(held && value == held, "an attribute holds the wrong value");
        free(held);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in{data, size};
    bool withHeader = in.u8() & 1;
    std::string text = withHeader ? kHeader : "";
    text.append(reinterpret_cast<const char*>(in.data), in.size);
    std::string file = fuzzWriteFile("input.kvx", reinterpret_cast<const uint8_t*>(text.data()), text.size());

    KvxHeader header{};
    FILE* f = kvxOpen(file.c_str(), &header);
    if (f) {
        fuzzCheck(header.line3 != nullptr, "an accepted header without its third line");
        KvxObjData* obj = kvxObjCreate();
        fuzzCheck(obj != nullptr, "no object data");
        KvxNames names;
        kvxNamesSet(&names, "X", "Y", "Z");
        Model model;
        KvxRecord r{};
        while (kvxReadRecord(f, &r)) {
            checkRecord(r, static_cast<int64_t>(text.size()));
            apply(obj, model, &names, &r);
            compare(obj, model);
        }
        fuzzCheck(r.type == 0 && !r.name && !r.params, "a failed read left a record behind");
        kvxObjFree(obj);
        fclose(f);
    }
    kvxHeaderFree(&header);
    fuzzCheck(!header.line3 && !header.line4, "a freed header keeps its texts");
    // Method names leave a trace line in the working folder; it must not grow without end.
    unlink("QJW.TXT");
    return 0;
}
