// Placeholder so the test program links until the frame tests land.
