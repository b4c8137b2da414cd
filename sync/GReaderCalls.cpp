// The Google Reader API's calls (sign-in check, folders, subscriptions,
// counts, ids, items, tag edits, mark-all-as-read, structure edits) and the
// steps of a sync, each made of calls of the client's plumbing
// (GReaderClient.cpp).
#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "sync/GReaderClient.h"
#include "sync/GReaderClientParts.h"

namespace qb {

using namespace greader;

void CGReaderClient::SignIn(Done<std::u16string> done) {
  Enqueue([this, done](uint64_t gen) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_auth.clear();
      m_editToken.clear();
    }
    Call call;
    call.generation = gen;
    call.path = std::string(kApi) + "user-info";
    call.query = {{"output", "json"}};
    Send(std::move(call), ParsedReply<std::u16string>("user-info", ParseUserName,
                                                      [this, gen, done](GReaderReply<std::u16string> r) {
                                                        done(std::move(r));
                                                        Finished(gen);
                                                      }));
  });
}

void CGReaderClient::FetchFolders(Done<std::vector<GReaderFolder>> done) {
  Enqueue([this, done](uint64_t gen) {
    Call call;
    call.generation = gen;
    call.path = std::string(kApi) + "tag/list";
    call.query = {{"output", "json"}};
    Send(std::move(call), ParsedReply<std::vector<GReaderFolder>>("tag/list", ParseTagList, [this, gen, done](auto r) {
      done(std::move(r));
      Finished(gen);
    }));
  });
}

void CGReaderClient::FetchSubscriptions(Done<std::vector<GReaderSubscription>> done) {
  Enqueue([this, done](uint64_t gen) {
    Call call;
    call.generation = gen;
    call.path = std::string(kApi) + "subscription/list";
    call.query = {{"output", "json"}};
    Send(std::move(call), ParsedReply<std::vector<GReaderSubscription>>("subscription/list", ParseSubscriptionList,
                                                                        [this, gen, done](auto r) {
                                                                          done(std::move(r));
                                                                          Finished(gen);
                                                                        }));
  });
}

void CGReaderClient::FetchUnreadCounts(Done<std::map<std::string, int64_t>> done) {
  Enqueue([this, done](uint64_t gen) {
    Call call;
    call.generation = gen;
    call.path = std::string(kApi) + "unread-count";
    call.query = {{"output", "json"}};
    Send(std::move(call), ParsedReply<std::map<std::string, int64_t>>("unread-count", ParseUnreadCounts,
                                                                      [this, gen, done](auto r) {
                                                                        done(std::move(r));
                                                                        Finished(gen);
                                                                      }));
  });
}

void CGReaderClient::IdsPage(uint64_t gen, std::shared_ptr<GReaderIdsQuery> query, std::shared_ptr<ServerIdList> list,
                             std::string continuation, std::function<void(GReaderReply<ServerIdList>)> next) {
  Call call;
  call.generation = gen;
  call.path = std::string(kApi) + "stream/items/ids";
  call.query = {{"output", "json"}, {"s", query->stream}, {"n", std::to_string(m_options.idsPerPage)}};
  if (!query->exclude.empty()) call.query.emplace_back("xt", query->exclude);
  if (!continuation.empty()) call.query.emplace_back("c", continuation);
  Send(std::move(call), [this, gen, query, list, continuation, next](Answer a) {
    if (!a.error.ok()) return next({std::move(a.error), {}});
    std::optional<GReaderIdsPage> page = ParseItemIds(a.download.body);
    if (!page) return next({BadAnswer("stream/items/ids"), {}});
    for (std::string& id : page->ids) {
      if (list->ids.size() >= m_options.maxIdsPerList) {
        list->complete = false;
        return next({{}, std::move(*list)});
      }
      list->ids.push_back(std::move(id));
    }
    if (page->continuation.empty()) return next({{}, std::move(*list)});
    // A page that brings nothing, or a continuation that does not move on,
    // would never end: the list stops there, known to be incomplete.
    if (page->ids.empty() || page->continuation == continuation) {
      list->complete = false;
      return next({{}, std::move(*list)});
    }
    IdsPage(gen, query, list, page->continuation, next);
  });
}

void CGReaderClient::FetchIds(GReaderIdsQuery query, Done<ServerIdList> done) {
  Enqueue([this, query = std::move(query), done](uint64_t gen) mutable {
    IdsPage(gen, std::make_shared<GReaderIdsQuery>(std::move(query)), std::make_shared<ServerIdList>(), {},
            [this, gen, done](GReaderReply<ServerIdList> r) {
              done(std::move(r));
              Finished(gen);
            });
  });
}

void CGReaderClient::ItemsBatch(uint64_t gen, std::shared_ptr<std::vector<std::string>> ids, size_t from,
                                std::shared_ptr<std::vector<GReaderItem>> items,
                                std::function<void(size_t, size_t)> progress,
                                std::function<void(GReaderReply<std::vector<GReaderItem>>)> next) {
  if (from >= ids->size()) return next({{}, std::move(*items)});
  const size_t to = std::min(ids->size(), from + std::max<size_t>(m_options.itemsPerRequest, 1));
  Call call;
  call.generation = gen;
  call.method = HttpMethod::kPost;
  call.path = std::string(kApi) + "stream/items/contents";
  call.query = {{"output", "json"}};
  for (size_t i = from; i < to; ++i) call.form.emplace_back("i", (*ids)[i]);
  Send(std::move(call), [this, gen, ids, from, to, items, progress, next](Answer a) {
    if (!a.error.ok()) return next({std::move(a.error), {}});
    std::optional<std::vector<GReaderItem>> batch = ParseItems(a.download.body);
    if (!batch) return next({BadAnswer("stream/items/contents"), {}});
    // Only what was asked for: a server's extra items are not taken in.
    const std::unordered_set<std::string> asked(ids->begin() + static_cast<long>(from),
                                                ids->begin() + static_cast<long>(to));
    for (GReaderItem& item : *batch) {
      if (asked.count(item.id) != 0) items->push_back(std::move(item));
    }
    if (progress) progress(to, ids->size());
    ItemsBatch(gen, ids, to, items, progress, next);
  });
}

void CGReaderClient::FetchItems(std::vector<std::string> ids, Done<std::vector<GReaderItem>> done) {
  Enqueue([this, ids = std::move(ids), done](uint64_t gen) mutable {
    ItemsBatch(gen, std::make_shared<std::vector<std::string>>(std::move(ids)), 0,
               std::make_shared<std::vector<GReaderItem>>(), {},
               [this, gen, done](GReaderReply<std::vector<GReaderItem>> r) {
                 done(std::move(r));
                 Finished(gen);
               });
  });
}

void CGReaderClient::PostForOk(uint64_t gen, std::string path, FormFields form,
                               std::function<void(GReaderReply<Nothing>)> next) {
  Call call;
  call.generation = gen;
  call.method = HttpMethod::kPost;
  call.path = std::string(kApi) + path;
  call.form = std::move(form);
  Send(std::move(call), [path, next](Answer a) {
    if (a.error.ok() && !IsOk(a.download.body)) a.error = BadAnswer(path.c_str());
    next({std::move(a.error), {}});
  });
}

void CGReaderClient::EditBatch(uint64_t gen, std::shared_ptr<TagEdit> edit, size_t from,
                               std::function<void(GReaderReply<size_t>)> next) {
  if (from >= edit->ids.size()) return next({{}, from});
  const size_t to = std::min(edit->ids.size(), from + std::max<size_t>(m_options.editsPerRequest, 1));
  FormFields form;
  for (size_t i = from; i < to; ++i) form.emplace_back("i", edit->ids[i]);
  form.emplace_back(edit->add ? "a" : "r", edit->tag);
  PostForOk(gen, "edit-tag", std::move(form), [this, gen, edit, from, to, next](GReaderReply<Nothing> r) {
    if (!r.error.ok()) return next({std::move(r.error), from});
    EditBatch(gen, edit, to, next);
  });
}

void CGReaderClient::EditTag(std::string tag, bool add, std::vector<std::string> ids, Done<size_t> done) {
  auto edit = std::make_shared<TagEdit>();
  edit->tag = std::move(tag);
  edit->add = add;
  edit->ids = std::move(ids);
  Enqueue([this, edit, done](uint64_t gen) {
    EditBatch(gen, edit, 0, [this, gen, done](GReaderReply<size_t> r) {
      done(std::move(r));
      Finished(gen);
    });
  });
}

void CGReaderClient::MarkAllAsRead(std::string stream, int64_t olderThanUsec, Done<Nothing> done) {
  Enqueue([this, stream = std::move(stream), olderThanUsec, done](uint64_t gen) {
    PostForOk(gen, "mark-all-as-read", {{"s", stream}, {"ts", std::to_string(std::max<int64_t>(olderThanUsec, 0))}},
              [this, gen, done](GReaderReply<Nothing> r) {
                done(std::move(r));
                Finished(gen);
              });
  });
}

void CGReaderClient::Subscribe(std::string feedUrl, std::u16string title, std::u16string folder,
                               Done<GReaderSubscription> done) {
  Enqueue([this, feedUrl = std::move(feedUrl), title = std::move(title), folder = std::move(folder), done](uint64_t gen) {
    const auto finish = [this, gen, done](GReaderReply<GReaderSubscription> r) {
      done(std::move(r));
      Finished(gen);
    };
    Call call;
    call.generation = gen;
    call.method = HttpMethod::kPost;
    call.path = std::string(kApi) + "subscription/quickadd";
    call.form = {{"quickadd", feedUrl}};
    Send(std::move(call), [this, gen, title, folder, finish](Answer a) {
      if (!a.error.ok()) return finish({std::move(a.error), {}});
      const std::optional<GReaderQuickAdd> added = ParseQuickAdd(a.download.body);
      if (!added) return finish({BadAnswer("subscription/quickadd"), {}});
      if (added->streamId.empty()) {
        return finish({Failure(GReaderStatus::kServerError,
                               WithReason(u"The server subscribed to no feed at this address", added->error),
                               a.download.httpStatus),
                       {}});
      }
      const std::string id = added->streamId;
      // Then the title and the folder, and the subscription as listed.
      const auto list = [this, gen, id, finish] {
        Call call;
        call.generation = gen;
        call.path = std::string(kApi) + "subscription/list";
        call.query = {{"output", "json"}};
        Send(std::move(call), ParsedReply<std::vector<GReaderSubscription>>(
                                  "subscription/list", ParseSubscriptionList,
                                  [id, finish](GReaderReply<std::vector<GReaderSubscription>> r) {
                                    if (!r.error.ok()) return finish({std::move(r.error), {}});
                                    for (GReaderSubscription& s : r.value) {
                                      if (s.id == id) return finish({{}, std::move(s)});
                                    }
                                    finish({BadAnswer("subscription/list"), {}});
                                  }));
      };
      if (title.empty() && folder.empty()) return list();
      FormFields form = {{"ac", "edit"}, {"s", id}};
      if (!title.empty()) form.emplace_back("t", Utf16ToUtf8(title));
      if (!folder.empty()) form.emplace_back("a", LabelStream(folder));
      PostForOk(gen, "subscription/edit", std::move(form), [list, finish](GReaderReply<Nothing> r) {
        if (!r.error.ok()) return finish({std::move(r.error), {}});
        list();
      });
    });
  });
}

void CGReaderClient::Unsubscribe(std::string streamId, Done<Nothing> done) {
  Enqueue([this, streamId = std::move(streamId), done](uint64_t gen) {
    PostForOk(gen, "subscription/edit", {{"ac", "unsubscribe"}, {"s", streamId}}, [this, gen, done](GReaderReply<Nothing> r) {
      done(std::move(r));
      Finished(gen);
    });
  });
}

void CGReaderClient::Rename(std::string streamId, std::u16string title, Done<Nothing> done) {
  Enqueue([this, streamId = std::move(streamId), title = Utf16ToUtf8(title), done](uint64_t gen) {
    PostForOk(gen, "subscription/edit", {{"ac", "edit"}, {"s", streamId}, {"t", title}},
              [this, gen, done](GReaderReply<Nothing> r) {
                done(std::move(r));
                Finished(gen);
              });
  });
}

void CGReaderClient::Move(std::string streamId, std::u16string fromFolder, std::u16string toFolder,
                          Done<Nothing> done) {
  FormFields form = {{"ac", "edit"}, {"s", std::move(streamId)}};
  if (!toFolder.empty()) form.emplace_back("a", LabelStream(toFolder));
  if (!fromFolder.empty()) form.emplace_back("r", LabelStream(fromFolder));
  Enqueue([this, form = std::move(form), done](uint64_t gen) {
    PostForOk(gen, "subscription/edit", form, [this, gen, done](GReaderReply<Nothing> r) {
      done(std::move(r));
      Finished(gen);
    });
  });
}

void CGReaderClient::RenameFolder(std::u16string from, std::u16string to, Done<Nothing> done) {
  FormFields form = {{"s", LabelStream(from)}, {"dest", LabelStream(to)}};
  Enqueue([this, form = std::move(form), done](uint64_t gen) {
    PostForOk(gen, "rename-tag", form, [this, gen, done](GReaderReply<Nothing> r) {
      done(std::move(r));
      Finished(gen);
    });
  });
}

void CGReaderClient::Sync(GReaderSyncInput input, std::function<void(GReaderSyncProgress)> progress,
                          Done<GReaderSyncOutcome> done) {
  auto run = std::make_shared<SyncRun>();
  run->input = std::move(input);
  run->progress = std::move(progress);
  run->done = std::move(done);
  Enqueue([this, run](uint64_t gen) {
    run->generation = gen;
    run->requestsBefore = RequestsMade();
    run->edits = PlanPush(run->input.local.pending, m_options.editsPerRequest);
    SyncStep(run);
  });
}

// The steps of a sync, one request (or one paged listing) each.
void CGReaderClient::SyncStep(std::shared_ptr<SyncRun> run) {
  const uint64_t gen = run->generation;
  const auto finish = [this, gen, run](GReaderError error) {
    if (run->outcome.error.ok()) run->outcome.error = std::move(error);
    run->outcome.acknowledged.assign(run->acknowledged.begin(), run->acknowledged.end());
    std::sort(run->outcome.acknowledged.begin(), run->outcome.acknowledged.end());
    run->outcome.requests = RequestsMade() - run->requestsBefore;
    run->done({run->outcome.error, std::move(run->outcome)});
    Finished(gen);
  };
  // Hands a step's reply on: a failure stops the sync, a value is kept.
  const auto then = [this, run, finish](auto keep) {
    return [this, run, finish, keep](auto reply) {
      if (!reply.error.ok()) return finish(std::move(reply.error));
      keep(std::move(reply.value));
      ++run->stage;
      SyncStep(run);
    };
  };
  const auto get = [gen](const char* path) {
    Call call;
    call.generation = gen;
    call.path = std::string(kApi) + path;
    call.query = {{"output", "json"}};
    return call;
  };

  switch (run->stage) {
    case 0: {  // the pending queue, one edit-tag at a time
      if (run->nextEdit >= run->edits.size()) {
        ++run->stage;
        return SyncStep(run);
      }
      auto edit = std::make_shared<TagEdit>(run->edits[run->nextEdit++]);
      EditBatch(gen, edit, 0, [this, run, edit, finish](GReaderReply<size_t> r) {
        if (r.error.ok()) {
          run->acknowledged.insert(edit->seqs.begin(), edit->seqs.end());
        } else if (Stops(r.error)) {
          return finish(std::move(r.error));
        } else if (run->outcome.error.ok()) {
          run->outcome.error = std::move(r.error);  // stays pending; the pull goes on
        }
        SyncStep(run);
      });
      return;
    }
    case 1:
      return Send(get("tag/list"), ParsedReply<std::vector<GReaderFolder>>(
                                       "tag/list", ParseTagList, then([run](std::vector<GReaderFolder> v) {
                                         run->outcome.folders = std::move(v);
                                       })));
    case 2:
      return Send(get("subscription/list"),
                  ParsedReply<std::vector<GReaderSubscription>>(
                      "subscription/list", ParseSubscriptionList,
                      then([run](std::vector<GReaderSubscription> v) { run->outcome.subscriptions = std::move(v); })));
    case 3:
      return Send(get("unread-count"),
                  ParsedReply<std::map<std::string, int64_t>>(
                      "unread-count", ParseUnreadCounts,
                      then([run](std::map<std::string, int64_t> v) { run->outcome.unreadCounts = std::move(v); })));
    case 4:
    case 5:
    case 6: {
      auto query = std::make_shared<GReaderIdsQuery>();
      ServerIdList* target = &run->lists.readingList;
      if (run->stage == 5) {
        query->exclude = kReadStream;
        target = &run->lists.unread;
      } else if (run->stage == 6) {
        query->stream = kStarredStream;
        target = &run->lists.starred;
      }
      return IdsPage(gen, query, std::make_shared<ServerIdList>(), {},
                     then([target](ServerIdList list) { *target = std::move(list); }));
    }
    case 7: {
      // What the server said, against what is stored and still pending.
      LocalSnapshot& local = run->input.local;
      std::erase_if(local.pending, [&](const PendingMark& m) { return run->acknowledged.count(m.seq) != 0; });
      run->outcome.plan = PlanPull(local, run->lists);
      run->outcome.pulled = true;
      auto ids = std::make_shared<std::vector<std::string>>();
      for (const FetchItem& f : run->outcome.plan.fetch) ids->push_back(f.id);
      if (run->progress) run->progress({0, ids->size()});
      const auto progress = [run](size_t fetched, size_t total) {
        if (run->progress) run->progress({fetched, total});
      };
      return ItemsBatch(gen, ids, 0, std::make_shared<std::vector<GReaderItem>>(), progress,
                        [run, finish](GReaderReply<std::vector<GReaderItem>> r) {
                          if (!r.error.ok()) return finish(std::move(r.error));
                          std::unordered_map<std::string, LocalItemState> planned;
                          for (const FetchItem& f : run->outcome.plan.fetch) planned.emplace(f.id, f.state);
                          for (GReaderItem& item : r.value) {
                            const LocalItemState& state = planned.at(item.id);
                            item.read = state.read;
                            item.starred = state.starred;
                          }
                          run->outcome.items = std::move(r.value);
                          finish({});
                        });
    }
    default:
      return finish({});
  }
}

}  // namespace qb
