// The device questions run over both orders of the hardware tree, by the
// DLL's rules, to find the answers that the order decides.
#include "profile/tree_order.h"

#include <cstring>

// The DLL keeps this many candidates of a class, the first it lists.
static const int kMaxCandidates = 20;
// The DLL reads values into 2048 bytes, keeping the last for the
// terminator; a larger value is unreadable. A candidate's description is
// cut to 1023 characters.
static const size_t kValueSize = 2048;

static const struct {
    OrderBus bus;
    const char *name;
} kClasses[] = {{order_pci, "MEDIA"}, {order_pci, "DISPLAY"}, {order_scsi, "CDROM"}};

static const char *const kBusKeys[] = {"Enum\\PCI\\", "Enum\\SCSI\\"};
static const char *const kKeyPrefixes[] = {"PCI\\", "SCSI\\"};

namespace {

// What of the walk's result a question answers from.
enum Answer { answer_description, answer_live_key, answer_found };

} // namespace

static const struct {
    const char *export_name;
    int device_class;
    Answer answer;
} kQuestions[] = {
    {"GetAudioCardID", 0, answer_description},
    {"GetGraphicsCardID", 1, answer_description},
    {"GetPCIInfo", 1, answer_live_key},
    {"IsDVDDrivePresent", 2, answer_found},
};

static char ascii_upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

static bool iequal_n(const char *a, const char *b, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i]))
            return false;
    return true;
}

static bool iequal(const char *a, const char *b)
{
    const size_t length = strlen(a);
    return length == strlen(b) && iequal_n(a, b, length);
}

// `length` bytes of `text`, to the first NUL, cut to fit `size`.
static void copy_text(char *to, size_t size, const char *text, size_t length)
{
    const char *nul = (const char *)memchr(text, 0, length);
    if (nul)
        length = size_t(nul - text);
    if (length >= size)
        length = size - 1;
    memcpy(to, text, length);
    to[length] = 0;
}

// Which of the questions' classes an instance's Class names: upper-cased
// as the DLL does it, a to z only.
static int class_of(OrderBus bus, const char *text)
{
    if (!text)
        return -1;
    char upper[kValueSize];
    size_t i = 0;
    for (; text[i] && i + 1 < sizeof upper; ++i)
        upper[i] = ascii_upper(text[i]);
    upper[i] = 0;
    for (int c = 0; c < int(sizeof kClasses / sizeof kClasses[0]); ++c)
        if (kClasses[c].bus == bus && !strcmp(upper, kClasses[c].name))
            return c;
    return -1;
}

void order_begin(OrderTree &tree)
{
    tree.counts[0] = tree.counts[1] = 0;
    tree.live_count = 0;
    tree.keys_used = 0;
    tree.cut = false;
    tree.current = nullptr;
    tree.pending.device_class = -1;
    tree.value = 0;
}

static OrderInstance *add_instance(OrderTree &tree, OrderSide side)
{
    if (tree.counts[side] == kOrderMaxInstances) {
        tree.cut = true;
        return nullptr;
    }
    return &tree.instances[side][tree.counts[side]++];
}

void order_add_instance(OrderTree &tree, OrderSide side, OrderBus bus, const char *device, const char *class_text,
                        const char *description)
{
    const int device_class = class_of(bus, class_text);
    OrderInstance *instance = device_class < 0 ? nullptr : add_instance(tree, side);
    if (!instance)
        return;
    instance->bus = bus;
    instance->device_class = device_class;
    copy_text(instance->device, sizeof instance->device, device, strlen(device));
    instance->instance[0] = 0;
    const char *text = description ? description : "";
    copy_text(instance->description, sizeof instance->description, text, strlen(text));
}

void order_add_live_node(OrderTree &tree, const char *hardware_key)
{
    // Only a PCI or SCSI device's node can match a candidate.
    if (strncmp(hardware_key, "PCI\\", 4) && strncmp(hardware_key, "SCSI\\", 5))
        return;
    const size_t length = strlen(hardware_key) + 1;
    if (tree.live_count == kOrderMaxLive || length > sizeof tree.keys - tree.keys_used) {
        tree.cut = true;
        return;
    }
    memcpy(tree.keys + tree.keys_used, hardware_key, length);
    tree.live[tree.live_count++] = tree.keys_used;
    tree.keys_used += length;
}

// ---- the captured side, from the profile's lines ----

// The instance whose values came last, once its key is done.
static void end_key(OrderTree &tree)
{
    if (tree.current == &tree.pending && tree.pending.device_class >= 0) {
        OrderInstance *instance = add_instance(tree, order_captured);
        if (instance)
            *instance = tree.pending;
    }
    tree.current = nullptr;
    tree.value = 0;
}

// HKLM\Enum\PCI\DEVICE\INSTANCE or HKLM\Enum\SCSI\DEVICE\INSTANCE.
static void begin_key(OrderTree &tree, const RegeditLine &line)
{
    end_key(tree);
    if (line.kind != regedit_key || line.root != regedit_local_machine)
        return;
    for (int bus = 0; bus < 2; ++bus) {
        const size_t length = strlen(kBusKeys[bus]);
        if (line.path_length <= length || !iequal_n(line.path, kBusKeys[bus], length))
            continue;
        const char *device = line.path + length;
        const char *slash = strchr(device, '\\');
        if (!slash || slash == device || !slash[1] || strchr(slash + 1, '\\'))
            return;
        OrderInstance &pending = tree.pending;
        pending.bus = OrderBus(bus);
        pending.device_class = -1;
        copy_text(pending.device, sizeof pending.device, device, size_t(slash - device));
        copy_text(pending.instance, sizeof pending.instance, slash + 1, strlen(slash + 1));
        pending.description[0] = 0;
        tree.current = &pending;
        // A key named again takes its values into the instance it named.
        for (int i = 0; i < tree.counts[order_captured]; ++i) {
            OrderInstance &known = tree.instances[order_captured][i];
            if (known.bus == pending.bus && iequal(known.device, pending.device) &&
                iequal(known.instance, pending.instance))
                tree.current = &known;
        }
        return;
    }
}

static void end_value(OrderTree &tree)
{
    OrderInstance &instance = *tree.current;
    const bool readable = tree.value_length <= kValueSize;
    char text[kValueSize];
    copy_text(text, sizeof text, tree.value_data, readable ? tree.value_length : 0);
    if (tree.value == 1)
        instance.device_class = class_of(instance.bus, readable ? text : nullptr);
    else
        copy_text(instance.description, sizeof instance.description, text, strlen(text));
    tree.value = 0;
}

// A value's bytes, kept as far as the DLL could read them.
static void add_bytes(OrderTree &tree, const RegeditLine &line)
{
    const size_t kept = tree.value_length < sizeof tree.value_data ? tree.value_length : sizeof tree.value_data;
    const size_t room = sizeof tree.value_data - kept;
    memcpy(tree.value_data + kept, line.data, line.length < room ? line.length : room);
    tree.value_length += line.length;
    if (!line.continues)
        end_value(tree);
}

void order_take_line(OrderTree &tree, const RegeditLine &line)
{
    switch (line.kind) {
    case regedit_key:
    case regedit_other_key:
        return begin_key(tree, line);
    case regedit_value:
        tree.value = !tree.current ? 0 : iequal(line.name, "Class") ? 1 : iequal(line.name, "DeviceDesc") ? 2 : 0;
        tree.value_length = 0;
        if (tree.value)
            add_bytes(tree, line);
        return;
    case regedit_more_bytes:
        if (tree.value)
            add_bytes(tree, line);
        return;
    default:
        return;
    }
}

void order_end_lines(OrderTree &tree)
{
    end_key(tree);
}

// ---- the walk in either order ----

namespace {

struct Table {
    const OrderInstance *slot[kMaxCandidates];
    int count;
};

} // namespace

// The candidates of a class: each device key with an instance of it, with
// the description of its first such instance, the first 20 listed.
static void take_inventory(const OrderTree &tree, OrderSide side, int device_class, Table &table)
{
    table.count = 0;
    for (int i = 0; i < tree.counts[side]; ++i) {
        const OrderInstance &instance = tree.instances[side][i];
        if (instance.device_class != device_class)
            continue;
        bool known = false;
        for (int c = 0; c < table.count && !known; ++c)
            known = !strcmp(table.slot[c]->device, instance.device);
        if (!known && table.count < kMaxCandidates)
            table.slot[table.count++] = &instance;
    }
}

static const OrderInstance *find(const Table &table, const char *device)
{
    for (int c = 0; c < table.count; ++c)
        if (!strcmp(table.slot[c]->device, device))
            return table.slot[c];
    return nullptr;
}

static bool begins_with_text(const char *description, const char *text)
{
    for (; *text; ++text, ++description)
        if (ascii_upper(*description) != ascii_upper(*text))
            return false;
    return true;
}

namespace {

struct Decision {
    Table table;
    const OrderInstance *chosen; // null when no live node matched
    int live;
};

} // namespace

// The first live node that begins with a candidate's key decides, and of
// its candidates the last in the table.
static void decide(const OrderTree &tree, OrderSide side, int device_class, const char *dvd_text, Decision &out)
{
    take_inventory(tree, side, device_class, out.table);
    out.chosen = nullptr;
    out.live = -1;
    const char *prefix = kKeyPrefixes[kClasses[device_class].bus];
    for (int l = 0; l < tree.live_count && !out.chosen; ++l) {
        const char *live = tree.keys + tree.live[l];
        for (int c = 0; c < out.table.count; ++c) {
            const OrderInstance &candidate = *out.table.slot[c];
            char key[kOrderTextSize];
            const size_t prefix_length = strlen(prefix);
            memcpy(key, prefix, prefix_length);
            copy_text(key + prefix_length, sizeof key - prefix_length, candidate.device, strlen(candidate.device));
            if (strncmp(live, key, strlen(key)) || (dvd_text && !begins_with_text(candidate.description, dvd_text)))
                continue;
            out.chosen = &candidate;
            out.live = l;
        }
    }
}

static bool same_answer(Answer answer, const Decision &a, const Decision &b)
{
    switch (answer) {
    case answer_description:
        return a.chosen == b.chosen || (a.chosen && b.chosen && !strcmp(a.chosen->description, b.chosen->description));
    case answer_live_key:
        return a.live == b.live;
    default:
        return !a.chosen == !b.chosen;
    }
}

static void put_key(RegeditOutput &out, const OrderInstance &instance)
{
    regedit_put_text(out, kKeyPrefixes[instance.bus]);
    regedit_put_text(out, instance.device);
}

static void put_quoted(RegeditOutput &out, const char *text)
{
    regedit_put_text(out, "\"");
    regedit_put_text(out, text);
    regedit_put_text(out, "\"");
}

// Why the two orders answer otherwise: the order of the device keys, or
// of one key's instances.
static void put_reason(RegeditOutput &out, const OrderTree &tree, int device_class, const Decision &captured,
                       const Decision &replayed)
{
    const OrderInstance *then = captured.chosen, *now = replayed.chosen;
    const char *bus = kBusKeys[kClasses[device_class].bus];
    if ((then && !find(replayed.table, then->device)) || (now && !find(captured.table, now->device))) {
        const bool left_out_now = then && !find(replayed.table, then->device);
        regedit_put_text(out, "more than 20 devices of class ");
        regedit_put_text(out, kClasses[device_class].name);
        regedit_put_text(out, ", of which the DLL keeps the first 20 it lists: ");
        put_key(out, left_out_now ? *then : *now);
        regedit_put_text(out, left_out_now ? ", which decides as captured, is not among them in Wine's order"
                                           : ", which decides in Wine's order, is not among them as captured");
        return;
    }
    if (then && now && captured.live == replayed.live && strcmp(then->device, now->device)) {
        const bool then_shorter = strlen(then->device) < strlen(now->device);
        put_key(out, then_shorter ? *then : *now);
        regedit_put_text(out, " begins ");
        put_key(out, then_shorter ? *now : *then);
        regedit_put_text(out, ", the live node ");
        regedit_put_text(out, tree.keys + tree.live[captured.live]);
        regedit_put_text(out, " matches both, and the one listed later in ");
        regedit_put(out, bus, strlen(bus) - 1);
        regedit_put_text(out, " decides: ");
        put_key(out, *then);
        regedit_put_text(out, " as captured, ");
        put_key(out, *now);
        regedit_put_text(out, " in Wine's order");
        return;
    }
    const OrderInstance &device = then ? *then : *now;
    const OrderInstance *as_captured = find(captured.table, device.device);
    const OrderInstance *in_wine = find(replayed.table, device.device);
    put_key(out, device);
    regedit_put_text(out, " has instances of class ");
    regedit_put_text(out, kClasses[device_class].name);
    regedit_put_text(out, " with different descriptions, and the first it lists gives the device's: ");
    put_quoted(out, as_captured ? as_captured->description : "");
    regedit_put_text(out, " as captured, ");
    put_quoted(out, in_wine ? in_wine->description : "");
    regedit_put_text(out, " in Wine's order");
}

void order_notes(OrderTree &tree, const char *dvd_text, OrderNote note, void *context)
{
    char *const line = tree.note;
    if (tree.cut) {
        note(context, "",
             "the order of Enum\\PCI and Enum\\SCSI was not checked: the machine has more devices of the questions' "
             "classes, or live nodes, than kxprobe looks at");
        return;
    }
    for (const auto &question : kQuestions) {
        const char *text = question.answer == answer_found ? dvd_text : nullptr;
        if (question.answer == answer_found && !text)
            continue;
        Decision captured, replayed;
        decide(tree, order_captured, question.device_class, text, captured);
        decide(tree, order_replayed, question.device_class, text, replayed);
        if (same_answer(question.answer, captured, replayed))
            continue;
        RegeditOutput out = {line, sizeof tree.note, 0, nullptr, nullptr, false};
        line[0] = 0;
        regedit_put_text(out, question.export_name);
        if (text) {
            regedit_put_text(out, "(\"");
            regedit_put_text(out, text);
            regedit_put_text(out, "\")");
        }
        regedit_put_text(out, ": ");
        put_reason(out, tree, question.device_class, captured, replayed);
        note(context, question.export_name, line);
    }
}
