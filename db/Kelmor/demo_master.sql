-- A customer the shop has set up but that never ordered: no addresses, no
-- users, no baskets; only its settings and agreed prices in the sales
-- database (db/Vendra/demo_master.sql). The master-data maintenance can
-- delete it, and its settings and prices go with it.
INSERT INTO BUSINESSPARTNER (BUSINESSPARTNERID, NAME, PARTNERTYPE, KROCUSTOMERCODE,
    KROSUPPLIERCODE, CURRENCYCODE, CARRIERCODE, PRICINGMETHOD, DISCOUNT,
    POSTALADDRESSID, SHIPPINGADDRESSID) VALUES
  (1004, 'Nordvik Marine', 2, 'C1004', NULL, 'EUR', 'DHL', 1, 0, NULL, NULL);
