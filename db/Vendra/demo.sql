-- The demo shop's sales data: price lists for the catalogue's products 1-20,
-- freight zones and prices, customer and back-end instance settings and the
-- card merchant accounts (the label captions are in demo_labels.sql). The
-- partners, addresses and currencies are the Kelmor demo's (1001 Hallvard
-- Industrial, 1002 Corvetto Machinery, 1003 Lindqvist Werkzeuge; home
-- currency EUR). docs/sales-database.md says what each row is there to show.

-- Product price list: every stocked product in EUR from 2024 on. Product 5
-- had an older price that expired when the current one began; product 12
-- has a USD price as well; 19 and 20 (services) have a percentage discount.
INSERT INTO PRODUCTPRICE (PRODUCTID, EFFECTIVEDATE, CURRENCYCODE, EXPIRYDATE, PRICE,
    DISCOUNTPERC, DISCOUNTAMOUNT) VALUES
  (1, '2024-01-01T00:00:00', 'EUR', NULL, 12.5, 0, 0),
  (2, '2024-01-01T00:00:00', 'EUR', NULL, 16.9, 0, 0),
  (3, '2024-01-01T00:00:00', 'EUR', NULL, 8.4, 0, 0),
  (4, '2024-01-01T00:00:00', 'EUR', NULL, 3.2, 0, 0),
  (5, '2024-01-01T00:00:00', 'EUR', '2025-01-01T00:00:00', 389, 0, 0),
  (5, '2025-01-01T00:00:00', 'EUR', NULL, 412, 0, 0),
  (6, '2024-01-01T00:00:00', 'EUR', NULL, 268, 0, 0),
  (7, '2024-01-01T00:00:00', 'EUR', NULL, 4850, 0, 0),
  (8, '2024-01-01T00:00:00', 'EUR', NULL, 176.5, 0, 10),
  (9, '2024-01-01T00:00:00', 'EUR', NULL, 9.75, 0, 0),
  (10, '2024-01-01T00:00:00', 'EUR', NULL, 14.2, 0, 0),
  (11, '2024-01-01T00:00:00', 'EUR', NULL, 79, 0, 0),
  (12, '2024-01-01T00:00:00', 'EUR', NULL, 189, 0, 0),
  (12, '2024-01-01T00:00:00', 'USD', NULL, 209, 0, 0),
  (13, '2024-01-01T00:00:00', 'EUR', NULL, 99, 0, 0),
  (14, '2024-01-01T00:00:00', 'EUR', NULL, 34.5, 0, 0),
  (15, '2024-01-01T00:00:00', 'EUR', NULL, 18.6, 0, 0),
  (16, '2024-01-01T00:00:00', 'EUR', NULL, 4.95, 0, 0),
  (17, '2024-01-01T00:00:00', 'EUR', NULL, 149, 0, 0),
  (18, '2024-01-01T00:00:00', 'EUR', NULL, 6.3, 0, 0),
  (19, '2024-01-01T00:00:00', 'EUR', NULL, 95, 5, 0),
  (20, '2024-01-01T00:00:00', 'EUR', NULL, 780, 5, 0);

-- Customer price list: Hallvard's agreed prices for bolts and the gear pump,
-- Lindqvist's for the wrench set, and a Hallvard price for the torque wrench
-- that starts only in 2030 (so today the product list still applies).
INSERT INTO CUSTOMERPRICE (BUSINESSPARTNERID, PRODUCTID, EFFECTIVEDATE, CURRENCYCODE,
    EXPIRYDATE, PRICE, DISCOUNTPERC, DISCOUNTAMOUNT) VALUES
  (1001, 1, '2024-01-01T00:00:00', 'EUR', NULL, 11.25, 0, 0),
  (1001, 5, '2025-01-01T00:00:00', 'EUR', NULL, 412, 8, 0),
  (1001, 12, '2030-01-01T00:00:00', 'EUR', NULL, 170, 0, 0),
  (1003, 11, '2024-06-01T00:00:00', 'EUR', NULL, 72, 0, 0);

-- Freight zones. Zip codes compare as text against MAXZIPCODE, the upper
-- bound of a country's range: Oslo (0252) lies in zone 2, Bergen (5160) and
-- Stavanger (4006) in zone 6.
INSERT INTO ZONES (ZONEID, ZONEDESCRIPTION) VALUES
  (1, 'Benelux'),
  (2, 'Norway south-east'),
  (3, 'Germany'),
  (4, 'North America'),
  (5, 'United Kingdom'),
  (6, 'Norway west and north');

INSERT INTO COUNTRIESBYZONE (COUNTRY, ZONEID, MAXZIPCODE) VALUES
  ('NL', 1, '9999 ZZ'),
  ('BE', 1, '9999'),
  ('LU', 1, '9999'),
  ('NO', 2, '3999'),
  ('NO', 6, '9999'),
  ('DE', 3, '99999'),
  ('US', 4, '99999'),
  ('CA', 4, 'Z9Z 9Z9'),
  ('GB', 5, 'ZZ99 9ZZ');

-- Every freight group ships from the Rotterdam warehouse (zone 1).
INSERT INTO FREIGHTGROUP (FREIGHTGROUPID, FREIGHTGROUPDESCRIPTION, SHIPFROMZONE) VALUES
  (1, 'Small parts', 1),
  (2, 'Hydraulics', 1),
  (3, 'Tubing and long goods', 1),
  (4, 'Tools', 1);

-- The services (19, 20) travel free and have no freight group. The power
-- unit carries a surcharge; the oil's 2.5 counts as 2 (halves to even).
INSERT INTO FREIGHTPRODUCT (PRODUCTID, FREIGHTGROUPID, ADDITIONALCOST) VALUES
  (1, 1, 0), (2, 1, 0), (3, 1, 0), (4, 1, 0), (15, 1, 0),
  (5, 2, 0), (6, 2, 0), (7, 2, 25), (8, 2, 0), (16, 2, 2.5),
  (9, 3, 0), (10, 3, 0), (18, 3, 0),
  (11, 4, 0), (12, 4, 0), (13, 4, 0), (14, 4, 0), (17, 4, 0);

-- A price for every group, carrier and destination zone: a delivery charge
-- by zone and carrier, plus an item charge by group.
INSERT INTO FREIGHTPRICE (FREIGHTGROUPID, CARRIER, SHIPFROMZONEID, SHIPTOZONEID,
    DELIVERYFREIGHTCOST, ITEMFREIGHTCOST)
SELECT g.FREIGHTGROUPID, c.column1, 1, z.column1,
       round(z.column2 * c.column2, 2), round(i.column2 * c.column2, 2)
FROM FREIGHTGROUP AS g
CROSS JOIN (VALUES ('DHL', 1.0), ('UPS', 1.2), ('DSV', 0.9)) AS c
CROSS JOIN (VALUES (1, 15), (2, 35), (3, 25), (4, 60), (5, 30), (6, 45)) AS z
JOIN (VALUES (1, 0.5), (2, 4), (3, 1.5), (4, 2)) AS i ON i.column1 = g.FREIGHTGROUPID;

-- Hallvard's quotations stay valid 30 days and its users are reminded a week
-- before; Lindqvist's 14 days, without reminder. Corvetto has no row, so the
-- sales parameters decide for it.
INSERT INTO CUSTOMERSETTING (BUSINESSPARTNERID, ORDERTYPE, CCORDERTYPE, EXPIRATIONPERIOD,
    NOTIFY, NOTIFICATIONPERIOD) VALUES
  (1001, 'SO', 'CC', 30, 1, 7),
  (1003, 'SOD', NULL, 14, 0, NULL);

-- Back-end instance 1 takes orders at once on submission; instance 2 only in
-- the periodic run, three attempts at most.
INSERT INTO ORDEREXPORTFILE (KROID, DESCRIPTION, EXPORTMESSAGETYPE, SALESORDERTYPE,
    CREDITCARDORDERTYPE, MAXATTEMPTS, EMAIL, EXPORTDIRECTORY, EXPORTFILENAME) VALUES
  (1, 'ERP Rotterdam', 2, 'SO', 'CC', 3, 'erp-orders@shop.example', 'exchange', 'orders1.xml'),
  (2, 'ERP Stuttgart', 1, 'SOD', NULL, 3, 'erp-stuttgart@shop.example', 'exchange', 'orders2.xml');

INSERT INTO MERCHANTIDBYCURRENCY (CURRENCYCODE, MERCHANTID) VALUES
  ('EUR', 'VENDRA-EUR-0001'),
  ('USD', 'VENDRA-USD-0001');
