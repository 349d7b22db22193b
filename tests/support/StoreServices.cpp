#include "support/StoreServices.h"

#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"

void StartStoreServices()
{
    new TimerManager();
    timerManager->everyHalfMinute()->stop();
    timerManager->everyFiveMinutes()->stop();
    timerManager->everyHour()->stop();
    new DataSaver();
    DeclareSettingsTypes();
}
