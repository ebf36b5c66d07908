// Object ids across the libraries' lists, plugin-defined types, and the named
// data that scripts attach to objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/objects.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "vm/vm.h"

namespace {

constexpr int kBrush = 3;
constexpr int kSample = 2;

class ObjectRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntimeSettings();
        InstallVmHost();
        L_ = VmOpen();
        ASSERT_NE(L_, nullptr);
    }
    void TearDown() override {
        for (qbObject& o : records_) FreeObjectDataList(L_, &o.data);
        VmClose(L_);
        ResetRuntimeSettings();
    }

    // Links the records into a list in order; the head of it.
    static qbObject* Chain(std::vector<qbObject*> objects) {
        for (size_t i = 0; i + 1 < objects.size(); ++i) objects[i]->next = objects[i + 1];
        return objects.empty() ? nullptr : objects.front();
    }
    static void MakeAutomatic(qbObject& o) {
        o.id = 0;
        o.handle = &o;
    }

    // The ids ListObjectsOfType stored, as text, in key order from 0.
    std::string ListedIDs(int type, int* count) {
        VmPushNewTable(L_);
        *count = ListObjectsOfType(L_, type);
        std::string ids;
        for (int k = 0;; ++k) {
            VmRawGetIndex(L_, -1, k);
            const int t = VmType(L_, -1);
            if (t == kTypeNil) break;
            ids += t == kTypeLightUserdata ? "h" : std::to_string(static_cast<int>(VmToNumber(L_, -1)));
            ids += ' ';
            VmSetTop(L_, -2);
        }
        VmSetTop(L_, 0);
        return ids;
    }

    std::string DataValue(const qbObject& o, const char* name) {
        if (!PushObjectDataEntry(L_, o.data.get(), name)) return "absent";
        std::string value = VmType(L_, -1) == kTypeNil ? "nil" : VmToCString(L_, -1);
        VmSetTop(L_, -2);
        return value;
    }

    ScriptState* L_ = nullptr;
    qbObject records_[4];
};

}  // namespace

TEST_F(ObjectRegistryTest, NamedTypesCountFrom58) {
    qbObject* head = nullptr;
    int id = -1;
    ASSERT_EQ(RegisterObjectList(&head), 0);
    ASSERT_EQ(RegisterObjectType(&head, "Widget", 7, &id, 0), 0);
    EXPECT_EQ(id, 58);
    ASSERT_EQ(RegisterObjectType(&head, "Gadget", 0, nullptr, 0), 0);
    ASSERT_EQ(RegisterObjectType(&head, "Gizmo", 0, &id, 0), 0);
    EXPECT_EQ(id, 60);
    EXPECT_EQ(FindObjectTypeByName("GADGET"), 59);
    EXPECT_EQ(FindObjectTypeByName("Nothing"), -1);

    // Shutdown empties the registry and the numbering starts over.
    FreeRuntimeLists(L_);
    EXPECT_EQ(FindObjectTypeByName("Widget"), -1);
    ASSERT_EQ(RegisterObjectType(&head, "Again", 0, &id, 0), 0);
    EXPECT_EQ(id, 58);
}

TEST_F(ObjectRegistryTest, ObjectsAreFoundAndListedByTypeNumberAndHandle) {
    qbObject* brushes = nullptr;
    qbObject* samples = nullptr;
    ASSERT_EQ(RegisterObjectList(&brushes), 0);
    ASSERT_EQ(RegisterObjectList(&samples), 0);
    // A library opened again records its list once, and lists each object once.
    ASSERT_EQ(RegisterObjectList(&brushes), 0);

    // The registry keeps the head variables, so objects added later count.
    records_[1].type = kBrush;
    records_[1].id = 5;
    records_[2].type = kBrush;
    MakeAutomatic(records_[2]);
    records_[3].type = kSample;
    records_[3].id = 5;
    brushes = Chain({&records_[1], &records_[2]});
    samples = &records_[3];

    EXPECT_EQ(FindObjectByID(kBrush, ObjectID{5, nullptr}), &records_[1]);
    EXPECT_EQ(FindObjectByID(kSample, ObjectID{5, nullptr}), &records_[3]);
    EXPECT_EQ(FindObjectByID(kBrush, ObjectID{0, &records_[2]}), &records_[2]);
    // An automatic id is found only by its handle.
    EXPECT_EQ(FindObjectByID(kBrush, ObjectID{0, nullptr}), nullptr);
    EXPECT_EQ(FindObjectByID(kSample, ObjectID{0, &records_[2]}), nullptr);
    EXPECT_EQ(FindObjectByID(kBrush, ObjectID{6, nullptr}), nullptr);

    EXPECT_EQ(GetObjectTypeOfHandle(&records_[2]), kBrush);
    EXPECT_EQ(GetObjectTypeOfHandle(nullptr), -1);
    // Handles from scripts are any pointers: compared, never followed.
    EXPECT_EQ(GetObjectTypeOfHandle(reinterpret_cast<void*>(uintptr_t{0x10})), -1);

    // A listing numbers the table from zero, across every registered list.
    int count = -1;
    EXPECT_EQ(ListedIDs(kBrush, &count), "5 h ");
    EXPECT_EQ(count, 2);
    records_[0].type = kBrush;
    records_[0].id = 1;
    samples = Chain({&records_[3], &records_[0]});
    EXPECT_EQ(ListedIDs(kBrush, &count), "5 h 1 ");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(ListedIDs(99, &count), "");
    EXPECT_EQ(count, 0);
    VmPushCClosure(L_, [](ScriptState* L) { return ListObjectsOfType(L, kBrush); }, 0);
    VmPushNumber(L_, 1);
    EXPECT_EQ(VmPCall(L_, 1, 0, 0), ERR_TABEXPECTED);
    VmSetTop(L_, 0);
}

TEST_F(ObjectRegistryTest, DataNamesIgnoreLetterCase) {
    qbObject& o = records_[0];
    VmPushString(L_, "first");
    ASSERT_EQ(SetObjectDataEntry(L_, "Score", -1, &o.data), 0);
    VmPushString(L_, "second");
    ASSERT_EQ(SetObjectDataEntry(L_, "SCORE", -1, &o.data), 0);
    VmPushString(L_, "other");
    ASSERT_EQ(SetObjectDataEntry(L_, "name", -1, &o.data), 0);
    VmPushNil(L_);
    ASSERT_EQ(SetObjectDataEntry(L_, "empty", -1, &o.data), 0);
    VmSetTop(L_, 0);

    ASSERT_NE(o.data, nullptr);
    EXPECT_EQ(o.data->name, "Score");
    ASSERT_NE(o.data->next, nullptr);
    EXPECT_EQ(o.data->next->name, "name");
    EXPECT_EQ(DataValue(o, "score"), "second");
    EXPECT_EQ(DataValue(o, "empty"), "nil");
    EXPECT_EQ(DataValue(o, "missing"), "absent");

    EXPECT_EQ(RemoveObjectDataEntry(L_, &o.data, "NAME"), 1);
    EXPECT_EQ(RemoveObjectDataEntry(L_, &o.data, "name"), 0);
    EXPECT_EQ(DataValue(o, "Score"), "second");
    EXPECT_EQ(SetObjectDataEntry(L_, nullptr, 1, &o.data), ERR_WRONGUSAGE);
}

TEST_F(ObjectRegistryTest, DataValuesLiveInTheRegistry) {
    qbObject& source = records_[0];
    qbObject& copy = records_[1];
    for (int i = 0; i < 3; ++i) {
        const std::string n = std::to_string(i);
        VmPushString(L_, ("value " + n).c_str());
        ASSERT_EQ(SetObjectDataEntry(L_, ("k" + n).c_str(), -1, &source.data), 0);
        VmSetTop(L_, 0);
    }
    ASSERT_EQ(CopyObjectDataList(L_, source.data.get(), &copy.data), 0);
    VmPushString(L_, "changed");
    ASSERT_EQ(SetObjectDataEntry(L_, "k1", -1, &copy.data), 0);
    VmSetTop(L_, 0);
    EXPECT_EQ(DataValue(source, "k1"), "value 1");
    FreeObjectDataList(L_, &source.data);
    EXPECT_EQ(source.data, nullptr);

    // Only the references keep the values; collections must not take them.
    VmSetGcThreshold(L_, 0);
    for (int i = 0; i < 2000; ++i) {
        VmPushNewTable(L_);
        VmSetTop(L_, 0);
    }
    EXPECT_EQ(DataValue(copy, "k0"), "value 0");
    EXPECT_EQ(DataValue(copy, "k1"), "changed");
    EXPECT_EQ(DataValue(copy, "k2"), "value 2");

    // Copying an empty list empties the target.
    EXPECT_EQ(CopyObjectDataList(L_, nullptr, &copy.data), 0);
    EXPECT_EQ(copy.data, nullptr);
}
