#pragma once
// The fixture of the overview controller tests: no stored choices of either
// overview and an empty shared value cache at the start, an account of the
// test's own, the fake selection and controls, and the sales and ad
// controllers, whose loads are waited for before they go.
#include <gtest/gtest.h>

#include <memory>

#include "core/KVRVortelyCoreDataManager.h"
#include "overview/KVRVortelyResumeController.h"
#include "platform/KVRUserDefaults.h"
#include "test_controller_fakes.h"

namespace overview_test {

class ResumeControllerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    KVRUserDefaults& d = KVRUserDefaults::standard();
    for (const char* prefix : {"KVRDashboard", "KVRiAd"})
      for (const char* suffix : {"SelectedValue", "SelectedScale", "SelectedPeriod", "StartDate", "EndDate"})
        d.removeObjectForKey(QString::fromLatin1(prefix) + QString::fromLatin1(suffix));
    KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
    account = store.account("Studio");
  }
  void TearDown() override {
    for (auto* c : {sales.get(), iad.get()})
      if (c) {
        EXPECT_TRUE(c->waitForLoads(10));
      }
    iad.reset();
    sales.reset();
    KVRVortelyCoreDataManager::sharedInstance().valuesByCountryAndDate().clear();
  }
  KVRVortelyResumeController& makeSales() {
    sales = std::make_unique<KVRVortelyResumeController>(nullptr, &services, &controls);
    return *sales;
  }
  // The ad overview, which shares the sales overview's load lock.
  KVRVortelyResumeController& makeIad() {
    iad = std::make_unique<KVRVortelyResumeController>(sales.get(), &services, &iadControls);
    return *iad;
  }

  ProductStore store;
  KVRStoreAccount* account = nullptr;
  FakeServices services;
  FakeControls controls, iadControls;
  std::unique_ptr<KVRVortelyResumeController> sales, iad;
};

}  // namespace overview_test
