#include "C/util/List.h"

#include "C/system/Mem.h"
#include "C/system/System.h"

struct ListNode_S {
    void* e;  // the element, not owned
    ListNode_S* next;
};

struct List_S {
    int length;
    ListNode_S* head;
    ListNode_S* tail;
    ListNode_S* freelist;  // nodes kept for reuse
};

using Node = ListNode_S;

namespace {
Node* takeNode(List_T L, void* e) {
    Node* n;
    if (L->freelist) {
        n = L->freelist;
        L->freelist = n->next;
    } else {
        n = static_cast<Node*>(ALLOC(sizeof(Node)));
    }
    n->e = e;
    n->next = nullptr;
    return n;
}

void giveNode(List_T L, Node* n) {
    n->e = nullptr;
    n->next = L->freelist;
    L->freelist = n;
}

void freeChain(Node* n) {
    while (n) {
        Node* next = n->next;
        FREE(n);
        n = next;
    }
}
}  // namespace

List_T List_new() {
    List_T L = static_cast<List_T>(CALLOC(1, sizeof(List_S)));
    return L;
}

void List_free(List_T* L) {
    VIGIL_ASSERT(L && *L);
    freeChain((*L)->head);
    freeChain((*L)->freelist);
    FREE(*L);
}

ListNode_T List_push(List_T L, void* e) {
    VIGIL_ASSERT(L);
    Node* n = takeNode(L, e);
    n->next = L->head;
    L->head = n;
    if (!L->tail)
        L->tail = n;
    L->length++;
    return n;
}

void* List_pop(List_T L) {
    VIGIL_ASSERT(L);
    Node* n = L->head;
    if (!n)
        return nullptr;
    void* e = n->e;
    L->head = n->next;
    if (!L->head)
        L->tail = nullptr;
    L->length--;
    giveNode(L, n);
    return e;
}

void List_append(List_T L, void* e) {
    VIGIL_ASSERT(L);
    Node* n = takeNode(L, e);
    if (L->tail)
        L->tail->next = n;
    else
        L->head = n;
    L->tail = n;
    L->length++;
}

void* List_remove(List_T L, void* e) {
    VIGIL_ASSERT(L);
    if (!e)
        return nullptr;
    Node* prev = nullptr;
    for (Node* n = L->head; n; prev = n, n = n->next) {
        if (n->e != e)
            continue;
        if (prev)
            prev->next = n->next;
        else
            L->head = n->next;
        if (L->tail == n)
            L->tail = prev;
        L->length--;
        giveNode(L, n);
        return e;
    }
    return nullptr;
}

void List_cat(List_T L, List_T list) {
    VIGIL_ASSERT(L);
    VIGIL_ASSERT(list);
    if (L == list)
        return;
    for (Node* n = list->head; n; n = n->next)
        List_append(L, n->e);
}

void List_reverse(List_T L) {
    VIGIL_ASSERT(L);
    Node* prev = nullptr;
    Node* n = L->head;
    L->tail = n;
    while (n) {
        Node* next = n->next;
        n->next = prev;
        prev = n;
        n = next;
    }
    L->head = prev;
}

int List_length(List_T L) {
    VIGIL_ASSERT(L);
    return L->length;
}

void List_clear(List_T L) {
    VIGIL_ASSERT(L);
    if (L->tail) {
        L->tail->next = L->freelist;
        L->freelist = L->head;
    }
    L->head = L->tail = nullptr;
    L->length = 0;
}

void** List_toArray(List_T L) {
    VIGIL_ASSERT(L);
    void** array = static_cast<void**>(ALLOC((static_cast<long>(L->length) + 1) * sizeof(void*)));
    int i = 0;
    for (Node* n = L->head; n; n = n->next)
        array[i++] = n->e;
    array[i] = nullptr;
    return array;
}
