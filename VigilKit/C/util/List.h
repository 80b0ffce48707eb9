#pragma once

// A singly linked list of untyped elements (not owned). Nodes taken off the list are kept on a free
// list and reused, so a list that is cleared and refilled stops allocating once it reached its
// largest size. A null list is a contract violation.

typedef struct List_S* List_T;
typedef struct ListNode_S* ListNode_T;

List_T List_new();
void List_free(List_T* L);
ListNode_T List_push(List_T L, void* e);
void* List_pop(List_T L);
void List_append(List_T L, void* e);
// Removes the first node whose element is e; returns e, or null when e is null or not found.
void* List_remove(List_T L, void* e);
void List_cat(List_T L, List_T list);
void List_reverse(List_T L);
int List_length(List_T L);
void List_clear(List_T L);
// New null-terminated array of the elements in order; the caller frees it (FREE).
void** List_toArray(List_T L);
