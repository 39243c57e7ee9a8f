-- Two configurations of the hydraulic power unit (SKU 7, the demo's only
-- configurable product): one complete and priced by the configurator, one the
-- shopper has not finished yet (no oil tank chosen).

INSERT INTO CONFIGURATION (CONFIGURATIONID, SKU, COMPLETE, PRICINGCODE, PRICE, CURRENCYCODE,
    LANGUAGE, COUNTRYCODE, COPIEDFROM, CREATED) VALUES
  ('CFG7-COMPLETE', 7, 1, 0, 4850.00, 'EUR', 'en', 'NO', NULL, '2025-03-03T10:15:00'),
  ('CFG7-INCOMPLETE', 7, 0, 0, 3900.00, 'EUR', 'en', 'NO', NULL, '2025-03-04T16:40:00');

INSERT INTO CONFIGURATIONOPTION (CONFIGURATIONID, SEQUENCENUMBER, FEATURECODE,
    FEATUREDESCRIPTION, OPTIONVALUE) VALUES
  ('CFG7-COMPLETE', 10, 'MOTOR', 'Electric motor', '7.5 kW 400 V 50 Hz'),
  ('CFG7-COMPLETE', 20, 'PUMP', 'Pump', 'Gear pump 200 bar'),
  ('CFG7-COMPLETE', 30, 'TANK', 'Oil tank', '60 l steel'),
  ('CFG7-COMPLETE', 40, 'VALVE', 'Control valve', 'Directional valve 4/3'),
  ('CFG7-INCOMPLETE', 10, 'MOTOR', 'Electric motor', '5.5 kW 400 V 50 Hz'),
  ('CFG7-INCOMPLETE', 20, 'PUMP', 'Pump', 'Gear pump 160 bar');
